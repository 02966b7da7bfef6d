// The words of a scripted user, as the Wine test driver (tests/wine/driver)
// plays them on Windows and setupcheck's player plays them on winsim: the
// answers to message boxes and the steps of a wizard script. Plain C++, so
// that both the MinGW build of the driver and the native tools compile it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace userscript {

// The answers of a message box, by the values of IDOK..IDNO (winuser.h);
// each program checks them against its own header's.
enum Answer : int { kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6, kNo = 7 };

// The answer a word names: OK, CANCEL, ABORT, RETRY, IGNORE, YES or NO, in
// any case; 0 for any other word.
int AnswerId(const std::string& word);

// An answer's word in capitals ("YES"); "?" for a value that is no answer.
const char* AnswerName(int id);

// One step of a wizard script: a line that is neither blank nor a comment
// ("#" as its first non-blank character).
struct Step {
  int line = 0;      // counted from 1, blank and comment lines included
  std::string text;  // the line from its first non-blank on, for the log
  std::string verb;  // up to the first blank or tab
  std::string arg;   // the first word after the verb; for sheet and box the whole rest (a caption)
  std::string rest;  // everything after the argument and one blank (settext's text, blanks kept)
};

// The steps of a script, one a line; a line may end in CR LF.
std::vector<Step> ReadSteps(const std::string& text);

// A whole word as a C number (decimal, 0x hexadecimal, 0 octal); -1 when it
// is not one.
int Number(const std::string& word);

// The wizard buttons a "press" step names.
enum class Button { Back, Next, Finish, Cancel };

// The button a word names: back, next, finish or cancel, in any case.
std::optional<Button> ButtonNamed(const std::string& word);

// The button's word in lower case ("next").
const char* ButtonName(Button button);

}  // namespace userscript
