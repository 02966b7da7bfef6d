// The scripted user's words: message box answers, wizard script lines and
// the buttons they press.
#include "userscript.h"

#include <cstdlib>
#include <sstream>

namespace userscript {

namespace {

std::string Upper(std::string word) {
  for (char& c : word) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return word;
}

}  // namespace

int AnswerId(const std::string& word) {
  static const struct {
    const char* word;
    int id;
  } kAnswers[] = {{"OK", kOk},         {"CANCEL", kCancel}, {"ABORT", kAbort}, {"RETRY", kRetry},
                  {"IGNORE", kIgnore}, {"YES", kYes},       {"NO", kNo}};
  std::string upper = Upper(word);
  for (const auto& a : kAnswers)
    if (upper == a.word) return a.id;
  return 0;
}

const char* AnswerName(int id) {
  switch (id) {
    case kOk: return "OK";
    case kCancel: return "CANCEL";
    case kAbort: return "ABORT";
    case kRetry: return "RETRY";
    case kIgnore: return "IGNORE";
    case kYes: return "YES";
    case kNo: return "NO";
    default: return "?";
  }
}

std::vector<Step> ReadSteps(const std::string& text) {
  std::vector<Step> steps;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    Step step;
    step.line = number;
    step.text = line.substr(start);
    size_t verbEnd = step.text.find_first_of(" \t");
    step.verb = step.text.substr(0, verbEnd);
    std::string tail = verbEnd == std::string::npos ? "" : step.text.substr(verbEnd + 1);
    if (step.verb == "sheet" || step.verb == "box") {
      step.arg = tail;
    } else {
      size_t argEnd = tail.find(' ');
      step.arg = tail.substr(0, argEnd);
      step.rest = argEnd == std::string::npos ? "" : tail.substr(argEnd + 1);
    }
    steps.push_back(step);
  }
  return steps;
}

int Number(const std::string& word) {
  char* end = nullptr;
  long value = std::strtol(word.c_str(), &end, 0);
  return end && *end == '\0' && !word.empty() ? static_cast<int>(value) : -1;
}

std::optional<Button> ButtonNamed(const std::string& word) {
  for (Button b : {Button::Back, Button::Next, Button::Finish, Button::Cancel})
    if (Upper(word) == Upper(ButtonName(b))) return b;
  return std::nullopt;
}

const char* ButtonName(Button button) {
  switch (button) {
    case Button::Back: return "back";
    case Button::Next: return "next";
    case Button::Finish: return "finish";
    case Button::Cancel: return "cancel";
  }
  return "?";
}

}  // namespace userscript
