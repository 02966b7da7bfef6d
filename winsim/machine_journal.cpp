// What a test reads back about a run: the journal of the program's
// observable actions, and the count of the resources it took and did not
// give back.
#include <algorithm>
#include <cstdio>

#include "internal.h"

namespace winsim {

using namespace detail;

// ---- Journal -------------------------------------------------------------------
void Journal::Add(std::string kind, std::vector<std::string> fields) {
  events_.push_back(Event{std::move(kind), std::move(fields)});
}

std::vector<Event> Journal::OfKind(const std::string& kind) const {
  std::vector<Event> r;
  for (auto& e : events_)
    if (e.kind == kind) r.push_back(e);
  return r;
}

size_t Journal::Count(const std::string& kind) const {
  size_t n = 0;
  for (auto& e : events_)
    if (e.kind == kind) ++n;
  return n;
}

int Journal::IndexOf(const std::string& kind, const std::vector<std::string>& fields, size_t from) const {
  for (size_t i = from; i < events_.size(); ++i) {
    const Event& e = events_[i];
    if (e.kind != kind || e.fields.size() < fields.size()) continue;
    if (std::equal(fields.begin(), fields.end(), e.fields.begin())) return static_cast<int>(i);
  }
  return -1;
}

int Journal::IndexWhere(const std::function<bool(const Event&)>& pred, size_t from) const {
  for (size_t i = from; i < events_.size(); ++i)
    if (pred(events_[i])) return static_cast<int>(i);
  return -1;
}

static std::string Printable(const std::string& s) {
  std::string r;
  for (unsigned char c : s) {
    if (c == '\r') {
      r += "\\r";
    } else if (c == '\n') {
      r += "\\n";
    } else if (c < 32 || c == 127) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      r += buf;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r;
}

std::string Journal::Format(const Event& e) {
  std::string line = e.kind;
  for (auto& f : e.fields) line += " | " + Printable(f);
  return line;
}

std::string Journal::Dump() const {
  std::string r;
  for (size_t i = 0; i < events_.size(); ++i) r += std::to_string(i) + ": " + Format(events_[i]) + "\n";
  return r;
}

std::string Outstanding::Describe() const {
  std::string r;
  auto add = [&r](const char* name, int v) {
    if (v == 0) return;
    if (!r.empty()) r += ", ";
    r += std::string(name) + "=" + std::to_string(v);
  };
  add("regKeys", regKeys);
  add("fileHandles", fileHandles);
  add("findHandles", findHandles);
  add("modules", modules);
  add("processHandles", processHandles);
  add("tokenHandles", tokenHandles);
  add("ddeInstances", ddeInstances);
  add("ddeStrings", ddeStrings);
  add("ddeConversations", ddeConversations);
  add("ddeDataHandles", ddeDataHandles);
  add("ddeAccessedData", ddeAccessedData);
  add("ddeReclaimed", ddeReclaimed);
  add("comObjects", comObjects);
  add("comInitialised", comInitialised);
  add("pidls", pidls);
  add("propSheetPages", propSheetPages);
  add("mallocRefs", mallocRefs);
  return r;
}

Journal& Machine::journal() { return state_->journal; }
const Journal& Machine::journal() const { return state_->journal; }

Outstanding Machine::outstanding() const {
  const State& s = *state_;
  Outstanding o;
  o.regKeys = static_cast<int>(s.keys.size());
  o.fileHandles = static_cast<int>(s.files.size());
  o.findHandles = static_cast<int>(s.finds.size());
  for (auto& m : s.modules) o.modules += m.refs - m.pinned;
  o.processHandles = static_cast<int>(s.processHandles.size());
  o.tokenHandles = static_cast<int>(s.tokens.size());
  o.ddeInstances = static_cast<int>(s.dde.size());
  for (auto& kv : s.dde)
    for (auto& str : kv.second.strings) o.ddeStrings += str.second.refs;
  o.ddeConversations = static_cast<int>(s.convs.size());
  for (auto& kv : s.ddeData) {
    ++o.ddeDataHandles;
    o.ddeAccessedData += kv.second.accessCount;
  }
  o.ddeReclaimed = s.ddeReclaimed;
  o.comObjects = static_cast<int>(s.comLive.size());
  o.comInitialised = s.comInit;
  o.pidls = static_cast<int>(s.pidls.size());
  o.propSheetPages = static_cast<int>(s.propPages.size());
  o.mallocRefs = s.mallocRefs;
  return o;
}

}  // namespace winsim
