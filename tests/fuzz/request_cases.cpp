#include "request_cases.h"

#include <json/reader.h>
#include <json/writer.h>

#include <algorithm>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

namespace hk::fuzz {
namespace {

// Every run mixes and draws with the same numbers.
constexpr uint64_t kFixedStartingValue = 20240611;

struct BaseRequest {
  const char* about;
  const char* text;
};

// One valid request of every request code of every tool. "hk-fuzz-service"
// and the process id are put right by the runner before a case is delivered.
const BaseRequest kBaseRequests[] = {
    {"0 exit", R"({"toolId":0,"requestId":1,"requestMessage":{"requestCode":0}})"},
    {"1101 list processes",
     R"({"toolId":1,"requestId":2,"requestMessage":{"requestCode":1101,"requestData":{}},"webClientId":"web-1"})"},
    {"1005 end a process",
     R"({"toolId":1,"requestId":3,"requestMessage":{"requestCode":1005,"requestData":{"cmd":"4242"}}})"},
    {"1105 exit",
     R"({"toolId":1,"requestId":4,"requestMessage":{"requestCode":1105,"requestData":{}},"webClientId":"web-1"})"},
    {"2101 list services", R"({"toolId":2,"requestId":5,"requestMessage":{"requestCode":2101,"requestData":{}}})"},
    {"2006 start a service",
     R"({"toolId":2,"requestId":6,"requestMessage":{"requestCode":2006,"requestData":{"cmd":"hk-fuzz-service"}}})"},
    {"2007 stop a service",
     R"({"toolId":2,"requestId":7,"requestMessage":{"requestCode":2007,"requestData":{"cmd":"hk-fuzz-service"}},"webClientId":"web-2"})"},
    {"2008 change a start type",
     R"({"toolId":2,"requestId":8,"requestMessage":{"requestCode":2008,"requestData":{"cmd":"hk-fuzz-service","type":3}}})"},
    {"2009 restart a service",
     R"({"toolId":2,"requestId":9,"requestMessage":{"requestCode":2009,"requestData":{"cmd":"hk-fuzz-service"}}})"},
    {"2105 exit", R"({"toolId":2,"requestId":10,"requestMessage":{"requestCode":2105,"requestData":{}}})"},
    {"3101 list users", R"({"toolId":3,"requestId":11,"requestMessage":{"requestCode":3101,"requestData":{}}})"},
    {"3105 exit", R"({"toolId":3,"requestId":12,"requestMessage":{"requestCode":3105,"requestData":{}}})"},
    {"6000 list groups",
     R"({"toolId":6,"requestId":13,"requestMessage":{"requestCode":6000,"requestData":{"Groups":"All_Groups"}}})"},
    {"6001 add a member",
     R"({"toolId":6,"requestId":14,"requestMessage":{"requestCode":6001,"requestData":{"Groups":"Fuzzers","request":"Add","domainName":"HOST","userName":"alice"}}})"},
    {"6001 delete a member",
     R"({"toolId":6,"requestId":15,"requestMessage":{"requestCode":6001,"requestData":{"Groups":"Fuzzers","request":"Del","domainName":"HOST","userName":"alice"}}})"},
    {"6002 add a group",
     R"({"toolId":6,"requestId":16,"requestMessage":{"requestCode":6002,"requestData":{"Groups":"Fuzz group","request":"Add","Description":"made by the fuzzer"}}})"},
    {"6002 delete a group",
     R"({"toolId":6,"requestId":17,"requestMessage":{"requestCode":6002,"requestData":{"Groups":"Fuzz group","request":"Delete"}}})"},
    {"6003 list users",
     R"({"toolId":6,"requestId":18,"requestMessage":{"requestCode":6003,"requestData":{"request":"getUsers"}}})"},
    {"7000 list printers",
     R"({"toolId":7,"requestId":19,"requestMessage":{"requestCode":7000,"requestData":{"PrinterName":"ALL_PRINTERS"}}})"},
    {"8000 list shares",
     R"({"toolId":8,"requestId":20,"requestMessage":{"requestCode":8000,"requestData":{"SHARE_NAME":"All_Shares"}}})"},
    {"8001 limit a share",
     R"({"toolId":8,"requestId":21,"requestMessage":{"requestCode":8001,"requestData":{"SHARE_NAME":"hk-fuzz-share","MAX_USES":"10"}}})"},
    {"8002 delete a share",
     R"({"toolId":8,"requestId":22,"requestMessage":{"requestCode":8002,"requestData":{"SHARE_NAME":"hk-fuzz-share"}}})"},
    {"8003 list accounts", R"({"toolId":8,"requestId":23,"requestMessage":{"requestCode":8003,"requestData":{}}})"},
    {"8005 list sessions", R"({"toolId":8,"requestId":24,"requestMessage":{"requestCode":8005,"requestData":{}}})"},
    {"8006 delete a session",
     R"({"toolId":8,"requestId":25,"requestMessage":{"requestCode":8006,"requestData":{"UNC_CLIENT_NAME":"\\\\hk-fuzz-client","USER_NAME":"hk-fuzz-user"}}})"},
    {"8010 list open files", R"({"toolId":8,"requestId":26,"requestMessage":{"requestCode":8010,"requestData":{}}})"},
    {"8011 close a file",
     R"({"toolId":8,"requestId":27,"requestMessage":{"requestCode":8011,"requestData":{"FILE_INFO_ID":"1"}}})"},
    {"10000 list device classes",
     R"({"toolId":10,"requestId":28,"requestMessage":{"requestCode":10000,"requestData":{"REQUEST":"ALL_DEVICE","WebClientID":"web-10"}}})"},
    {"10001 list a class's devices",
     R"({"toolId":10,"requestId":29,"requestMessage":{"requestCode":10001,"requestData":{"REQUEST":"GET_THS_DEVICE","DEVICE_GUID":"4d36e968-e325-11ce-bfc1-08002be10318","WebClientID":"web-10"}}})"},
    {"10002 a device's properties",
     R"({"toolId":10,"requestId":30,"requestMessage":{"requestCode":10002,"requestData":{"REQUEST":"GET_THS_DRIVER_INFO","DEVICE_ID":"ROOTDEVMGR_SLASHLEGACY_BEEPDEVMGR_SLASH0000","WebClientID":"web-10"}}})"},
    {"10003 a device action",
     R"({"toolId":10,"requestId":31,"requestMessage":{"requestCode":10003,"requestData":{"REQUEST":"REQUEST_THIS_DRIVER_ACTION","DEVICE_ID":"ROOTDEVMGR_SLASHLEGACY_BEEPDEVMGR_SLASH0000","CLASS_GUID":"DEVMGR_OPEN4d36e968-e325-11ce-bfc1-08002be10318DEVMGR_CLOSE","ACTION":"DISABLE","WebClientID":"web-10"}}})"},
    {"15000 list startup programs",
     R"({"toolId":15,"requestId":32,"requestMessage":{"requestCode":15000,"requestData":{"REQUEST":"ALL_APPS","WebClientID":"web-15"}}})"},
    {"15001 a startup program action",
     R"({"toolId":15,"requestId":33,"requestMessage":{"requestCode":15001,"requestData":{"REQUEST":"REQUEST_THIS_APP_ACTION","ACTION":"DISABLE","APP_NAME":"hk-fuzz-app","USER":"Public","WebClientID":"web-15"}}})"},
};

// Ways to ask for an exit, and near misses.
const char* const kExitTexts[] = {
    R"({"toolId":0,"requestId":1,"requestMessage":{"requestCode":0}})",
    R"({"toolId":0,"requestId":1,"requestMessage":{"requestCode":999,"requestData":{"cmd":"1"}}})",
    R"({"toolId":0})",
    R"({})",
    R"({"toolId":0.0,"requestId":1e0,"requestMessage":{"requestCode":0}})",
    R"({"toolId":1,"requestId":1,"requestMessage":{"requestCode":1105},"webClientId":"Zo\u00eb"})",
    R"({"toolId":2,"requestId":1,"requestMessage":{"requestCode":2105,"requestData":null}})",
    R"({"toolId":3,"requestId":1,"requestMessage":{"requestCode":3105,"requestData":[1,2]}})",
    R"({"toolId":2,"requestId":1,"requestMessage":{"requestCode":1105}})",
    R"({"toolId":1,"requestId":1,"requestMessage":{"requestCode":2105}})",
    R"({"toolId":3,"requestId":1,"requestMessage":{"requestCode":1105}})",
    R"({"toolId":"0","requestId":1,"requestMessage":{"requestCode":0}})",
    R"({"toolId":0,"requestId":-1,"requestMessage":{"requestCode":0}})",
    R"(/* exit */ {"toolId":0,"requestId":1,"requestMessage":{"requestCode":0}} // now)",
    R"({"toolId":1,"requestId":1,"requestMessage":{"requestCode":1105}} trailing)",
};

// A member of every JSON type.
const char* const kTypeValues[] = {
    "null", "true", "0", "-1", "1.5", R"("")", R"("text")", "[]", R"({"a":[1,"b",null]})"};

// Numbers at and past the 32- and 64-bit limits; the last is a million digits.
const char* const kNumberValues[] = {"2147483647",
                                     "2147483648",
                                     "-2147483648",
                                     "-2147483649",
                                     "4294967295",
                                     "4294967296",
                                     "9223372036854775807",
                                     "9223372036854775808",
                                     "-9223372036854775809",
                                     "18446744073709551616",
                                     "1e400",
                                     "-0",
                                     nullptr};

// Invalid and overlong UTF-8, unpaired surrogates, and valid non-ASCII text
// (octal escapes, so no letter after them is read as a digit).
const char* const kUtf8Values[] = {
    "\"a\300\257b\"", "\"a\340\200\257b\"", "\"a\360\200\200\257b\"",
    "\"a\300\200b\"", "\"a\355\240\200b\"", "\"a\364\220\200\200b\"",
    "\"a\377\376b\"", "\"a\200b\"",         "\"a\342\202\"",
    "\"a\\ud800b\"",  "\"\\udc00\"",        "\"Zo\303\253-\344\270\255-\360\237\230\200\""};

constexpr size_t kMiB = 1 << 20;

// Three forms of a 1 MiB string: ASCII, raw three-byte UTF-8, \u escapes.
std::string HugeString(uint32_t form) {
  static const char* const kUnits[] = {"A", "\344\270\255", "\\u00e9"};
  const std::string unit = kUnits[form];
  std::string s = "\"";
  for (size_t i = 0; i < kMiB / unit.size(); ++i) s += unit;
  return s + "\"";
}

// Depth 990 at requestData stays under the reader's limit and loads.
const int kDepths[] = {990, 10000};

std::string Nested(int depth, bool objects, bool closed) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += objects ? "{\"a\":" : "[";
  s += "1";
  if (closed)
    for (int i = 0; i < depth; ++i) s += objects ? "}" : "]";
  return s;
}

// ---- writing a request with one member changed ------------------------------------

using Path = std::vector<std::string>;

std::string PathText(const Path& path) {
  std::string s;
  for (const std::string& p : path) s += (s.empty() ? "" : ".") + p;
  return s.empty() ? "the request" : s;
}

enum class Edit { kReplace, kRemove, kDuplicate };

// The edit is spliced into the compact text in place of a marker, so raw may
// be anything, valid JSON or not.
std::string Edited(Json::Value doc, Edit edit, const Path& path, const std::string& raw) {
  if (path.empty()) return raw;
  Json::Value* parent = &doc;
  for (size_t i = 0; i + 1 < path.size(); ++i) parent = &(*parent)[path[i]];
  if (edit == Edit::kRemove) {
    parent->removeMember(path.back());
    return Compact(doc);
  }
  const std::string marker = "\"@@hk-edit@@\"";
  const std::string was = Compact((*parent)[path.back()]);
  (*parent)[path.back()] = "@@hk-edit@@";
  std::string text = Compact(doc);
  const std::string with = edit == Edit::kReplace ? raw : was + "," + Compact(Json::Value(path.back())) + ":" + raw;
  return text.replace(text.find(marker), marker.size(), with);
}

// ---- the base requests, parsed once -----------------------------------------------

struct Base {
  std::string about, text;
  Json::Value doc;
  std::vector<Path> members;  // every member path, depth first
  std::vector<Path> strings;  // members holding text
  std::vector<Path> numbers;  // members holding a number, or text that is one
};

void Collect(const Json::Value& v, Path& at, Base& base) {
  for (const std::string& name : v.getMemberNames()) {
    at.push_back(name);
    const Json::Value& member = v[name];
    base.members.push_back(at);
    if (member.isString()) base.strings.push_back(at);
    const bool integerText = member.isString() && !member.asString().empty() &&
                             member.asString().find_first_not_of("-0123456789") == std::string::npos;
    if (member.isNumeric() || integerText) base.numbers.push_back(at);
    if (member.isObject()) Collect(member, at, base);
    at.pop_back();
  }
}

const std::vector<Base>& Bases() {
  static const std::vector<Base> bases = [] {
    std::vector<Base> out;
    Json::Reader reader;
    for (const BaseRequest& r : kBaseRequests) {
      Base base{r.about, r.text, Json::Value(), {}, {}, {}};
      if (!reader.parse(base.text, base.doc))
        throw std::logic_error(std::string("base request does not parse: ") + r.about);
      Path at;
      Collect(base.doc, at, base);
      out.push_back(std::move(base));
    }
    return out;
  }();
  return bases;
}

// ---- the complete families --------------------------------------------------------

enum class Family { kTruncate, kType, kMissing, kDuplicate, kNumber, kUtf8, kHuge, kNesting, kUnclosed, kExit };

struct Recipe {
  Family family;
  uint16_t base;
  uint16_t member;   // index into the family's member list of the base
  uint32_t variant;  // length, value index, depth index...
};

std::vector<Recipe> AllRecipes() {
  std::vector<Recipe> out;
  const auto add = [&out](Family f, uint16_t b, size_t members, size_t variants) {
    for (size_t m = 0; m < members; ++m)
      for (size_t v = 0; v < variants; ++v) out.push_back({f, b, static_cast<uint16_t>(m), static_cast<uint32_t>(v)});
  };
  for (uint16_t b = 0; b < Bases().size(); ++b) {
    const Base& base = Bases()[b];
    add(Family::kTruncate, b, 1, base.text.size());
    add(Family::kType, b, base.members.size() + 1, std::size(kTypeValues));  // member 0: the whole request
    add(Family::kMissing, b, base.members.size(), 1);
    add(Family::kDuplicate, b, base.members.size(), 2);
    add(Family::kNumber, b, base.numbers.size(), std::size(kNumberValues));
    add(Family::kUtf8, b, base.strings.size(), std::size(kUtf8Values));
    add(Family::kHuge, b, base.strings.size(), 3);
    add(Family::kNesting, b, 3, std::size(kDepths) * 2);
    add(Family::kUnclosed, b, 1, 1);
  }
  add(Family::kExit, 0, 1, std::size(kExitTexts));
  return out;
}

const std::vector<Recipe>& Recipes() {
  static const std::vector<Recipe> recipes = [] {
    std::vector<Recipe> all = AllRecipes();
    std::mt19937_64 mix(kFixedStartingValue);
    std::shuffle(all.begin(), all.end(), mix);
    return all;
  }();
  return recipes;
}

const Json::Value& At(const Json::Value& doc, const Path& path) {
  const Json::Value* value = &doc;
  for (const std::string& p : path) value = &(*value)[p];
  return *value;
}

Case Cook(const Recipe& r) {
  const Base& base = Bases()[r.base];
  const std::string of = ": " + base.about;
  switch (r.family) {
    case Family::kTruncate:
      return {base.text.substr(0, r.variant), "truncated at " + std::to_string(r.variant) + of};
    case Family::kType: {
      const Path path = r.member == 0 ? Path{} : base.members[r.member - 1];
      return {Edited(base.doc, Edit::kReplace, path, kTypeValues[r.variant]),
              PathText(path) + " = " + kTypeValues[r.variant] + of};
    }
    case Family::kMissing: {
      const Path& path = base.members[r.member];
      return {Edited(base.doc, Edit::kRemove, path, ""), "no " + PathText(path) + of};
    }
    case Family::kDuplicate: {
      const Path& path = base.members[r.member];
      const std::string raw = r.variant == 0 ? Compact(At(base.doc, path)) : "0";
      return {Edited(base.doc, Edit::kDuplicate, path, raw), PathText(path) + " twice, then " + raw.substr(0, 40) + of};
    }
    case Family::kNumber: {
      const Path& path = base.numbers[r.member];
      const char* value = kNumberValues[r.variant];
      const std::string number = value ? value : std::string(kMiB, '9');
      const std::string raw = At(base.doc, path).isString() ? "\"" + number + "\"" : number;
      return {Edited(base.doc, Edit::kReplace, path, raw), PathText(path) + " = " + raw.substr(0, 24) + of};
    }
    case Family::kUtf8: {
      const Path& path = base.strings[r.member];
      return {Edited(base.doc, Edit::kReplace, path, kUtf8Values[r.variant]),
              PathText(path) + " = UTF-8 sample " + std::to_string(r.variant) + of};
    }
    case Family::kHuge: {
      const Path& path = base.strings[r.member];
      return {Edited(base.doc, Edit::kReplace, path, HugeString(r.variant)),
              PathText(path) + " = 1 MiB string, form " + std::to_string(r.variant) + of};
    }
    case Family::kNesting: {
      static const Path kPlaces[] = {{}, {"requestMessage", "requestCode"}, {"requestMessage", "requestData"}};
      const int depth = kDepths[r.variant / 2];
      const bool objects = r.variant % 2;
      return {Edited(base.doc, Edit::kReplace, kPlaces[r.member], Nested(depth, objects, true)),
              PathText(kPlaces[r.member]) + " nested " + std::to_string(depth) + (objects ? " objects" : " arrays") +
                  " deep" + of};
    }
    case Family::kUnclosed:
      return {Edited(base.doc, Edit::kReplace, {"requestMessage", "requestData"}, Nested(10000, false, false)),
              "requestData opened 10000 deep and never closed" + of};
    case Family::kExit:
      return {kExitTexts[r.variant], "exit form " + std::to_string(r.variant)};
  }
  return {base.text, base.about};
}

// Bytes a flip likes to land on.
const char kTellingBytes[] = {'\0', '"', '\\', '{', '}', '[',    ']',    ',',
                              ':',  '-', '0',  '9', 'e', '\x80', '\xC0', '\xFF'};

}  // namespace

std::string Compact(const Json::Value& v) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, v);
}

uint64_t CompleteCases() { return Recipes().size(); }

Case MakeCase(uint64_t index) {
  const std::vector<Recipe>& recipes = Recipes();
  if (index < recipes.size()) return Cook(recipes[index]);

  // Past the complete families: a mutation from them or a base request as it
  // is, then one to eight random byte changes.
  std::mt19937_64 draw(kFixedStartingValue ^ (index * 0x9E3779B97F4A7C15ull));
  Case c;
  if (draw() % 2) {
    c = Cook(recipes[draw() % recipes.size()]);
  } else {
    const Base& base = Bases()[draw() % Bases().size()];
    c = {base.text, base.about};
  }
  const int changes = 1 + static_cast<int>(draw() % 8);
  for (int i = 0; i < changes && !c.text.empty(); ++i) {
    const size_t at = draw() % c.text.size();
    const char telling = kTellingBytes[draw() % sizeof kTellingBytes];
    switch (draw() % 4) {
      case 0:
        c.text[at] = static_cast<char>(c.text[at] ^ (1 << (draw() % 8)));
        break;
      case 1:
        c.text[at] = telling;
        break;
      case 2:
        c.text.erase(at, 1);
        break;
      default:
        c.text.insert(at, 1, telling);
        break;
    }
  }
  c.about = std::to_string(changes) + " random byte changes on " + c.about;
  return c;
}

}  // namespace hk::fuzz
