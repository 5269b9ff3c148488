#include "request_cases.h"

#include <json/reader.h>
#include <json/writer.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace hk::fuzz {
namespace {

// Every run mixes and draws with the same numbers.
constexpr uint64_t kFixedStartingValue = 20240611;
constexpr size_t kMiB = 1 << 20;

// One valid request of every request code of every tool, one a line: what it
// is, then its text. The runner puts in its own service name and process id.
constexpr char kBaseRequests[] =
    R"(0 exit {"toolId":0,"requestId":1,"requestMessage":{"requestCode":0}}
1101 list processes {"toolId":1,"requestId":2,"requestMessage":{"requestCode":1101,"requestData":{}},"webClientId":"web-1"}
1005 end a process {"toolId":1,"requestId":3,"requestMessage":{"requestCode":1005,"requestData":{"cmd":"4242"}}}
1105 exit {"toolId":1,"requestId":4,"requestMessage":{"requestCode":1105,"requestData":{}},"webClientId":"web-1"}
2101 list services {"toolId":2,"requestId":5,"requestMessage":{"requestCode":2101,"requestData":{}}}
2006 start a service {"toolId":2,"requestId":6,"requestMessage":{"requestCode":2006,"requestData":{"cmd":"hk-fuzz-service"}}}
2007 stop a service {"toolId":2,"requestId":7,"requestMessage":{"requestCode":2007,"requestData":{"cmd":"hk-fuzz-service"}},"webClientId":"web-2"}
2008 change a start type {"toolId":2,"requestId":8,"requestMessage":{"requestCode":2008,"requestData":{"cmd":"hk-fuzz-service","type":3}}}
2009 restart a service {"toolId":2,"requestId":9,"requestMessage":{"requestCode":2009,"requestData":{"cmd":"hk-fuzz-service"}}}
2105 exit {"toolId":2,"requestId":10,"requestMessage":{"requestCode":2105,"requestData":{}}}
3101 list users {"toolId":3,"requestId":11,"requestMessage":{"requestCode":3101,"requestData":{}}}
3105 exit {"toolId":3,"requestId":12,"requestMessage":{"requestCode":3105,"requestData":{}}}
6000 list groups {"toolId":6,"requestId":13,"requestMessage":{"requestCode":6000,"requestData":{"Groups":"All_Groups"}}}
6001 add a member {"toolId":6,"requestId":14,"requestMessage":{"requestCode":6001,"requestData":{"Groups":"Fuzzers","request":"Add","domainName":"HOST","userName":"alice"}}}
6001 delete a member {"toolId":6,"requestId":15,"requestMessage":{"requestCode":6001,"requestData":{"Groups":"Fuzzers","request":"Del","domainName":"HOST","userName":"alice"}}}
6002 add a group {"toolId":6,"requestId":16,"requestMessage":{"requestCode":6002,"requestData":{"Groups":"Fuzz group","request":"Add","Description":"made by the fuzzer"}}}
6002 delete a group {"toolId":6,"requestId":17,"requestMessage":{"requestCode":6002,"requestData":{"Groups":"Fuzz group","request":"Delete"}}}
6003 list users {"toolId":6,"requestId":18,"requestMessage":{"requestCode":6003,"requestData":{"request":"getUsers"}}}
7000 list printers {"toolId":7,"requestId":19,"requestMessage":{"requestCode":7000,"requestData":{"PrinterName":"ALL_PRINTERS"}}}
8000 list shares {"toolId":8,"requestId":20,"requestMessage":{"requestCode":8000,"requestData":{"SHARE_NAME":"All_Shares"}}}
8001 limit a share {"toolId":8,"requestId":21,"requestMessage":{"requestCode":8001,"requestData":{"SHARE_NAME":"hk-fuzz-share","MAX_USES":"10"}}}
8002 delete a share {"toolId":8,"requestId":22,"requestMessage":{"requestCode":8002,"requestData":{"SHARE_NAME":"hk-fuzz-share"}}}
8003 list accounts {"toolId":8,"requestId":23,"requestMessage":{"requestCode":8003,"requestData":{}}}
8005 list sessions {"toolId":8,"requestId":24,"requestMessage":{"requestCode":8005,"requestData":{}}}
8006 delete a session {"toolId":8,"requestId":25,"requestMessage":{"requestCode":8006,"requestData":{"UNC_CLIENT_NAME":"\\\\hk-fuzz-client","USER_NAME":"hk-fuzz-user"}}}
8010 list open files {"toolId":8,"requestId":26,"requestMessage":{"requestCode":8010,"requestData":{}}}
8011 close a file {"toolId":8,"requestId":27,"requestMessage":{"requestCode":8011,"requestData":{"FILE_INFO_ID":"1"}}}
10000 list device classes {"toolId":10,"requestId":28,"requestMessage":{"requestCode":10000,"requestData":{"REQUEST":"ALL_DEVICE","WebClientID":"web-10"}}}
10001 list a class's devices {"toolId":10,"requestId":29,"requestMessage":{"requestCode":10001,"requestData":{"REQUEST":"GET_THS_DEVICE","DEVICE_GUID":"4d36e968-e325-11ce-bfc1-08002be10318","WebClientID":"web-10"}}}
10002 a device's properties {"toolId":10,"requestId":30,"requestMessage":{"requestCode":10002,"requestData":{"REQUEST":"GET_THS_DRIVER_INFO","DEVICE_ID":"ROOTDEVMGR_SLASHLEGACY_BEEPDEVMGR_SLASH0000","WebClientID":"web-10"}}}
10003 a device action {"toolId":10,"requestId":31,"requestMessage":{"requestCode":10003,"requestData":{"REQUEST":"REQUEST_THIS_DRIVER_ACTION","DEVICE_ID":"ROOTDEVMGR_SLASHLEGACY_BEEPDEVMGR_SLASH0000","CLASS_GUID":"DEVMGR_OPEN4d36e968-e325-11ce-bfc1-08002be10318DEVMGR_CLOSE","ACTION":"DISABLE","WebClientID":"web-10"}}}
15000 list startup programs {"toolId":15,"requestId":32,"requestMessage":{"requestCode":15000,"requestData":{"REQUEST":"ALL_APPS","WebClientID":"web-15"}}}
15001 a startup program action {"toolId":15,"requestId":33,"requestMessage":{"requestCode":15001,"requestData":{"REQUEST":"REQUEST_THIS_APP_ACTION","ACTION":"DISABLE","APP_NAME":"hk-fuzz-app","USER":"Public","WebClientID":"web-15"}}})";

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

using Path = std::vector<std::string>;

struct Base {
  std::string about, text;
  Json::Value doc;
  std::vector<Path> whole{{}};    // where a truncation happens
  std::vector<Path> members{{}};  // the whole request, then every member depth first
  std::vector<Path> strings;      // members holding text
  std::vector<Path> numbers;      // members holding a number, or text that is one
  std::vector<Path> nests{{}, {"requestMessage", "requestCode"}, {"requestMessage", "requestData"}};
};

void Collect(const Json::Value& v, const Path& at, Base& base) {
  for (const std::string& name : v.getMemberNames()) {
    Path path = at;
    path.push_back(name);
    const Json::Value& member = v[name];
    const bool digits = member.isString() && !member.asString().empty() &&
                        member.asString().find_first_not_of("-0123456789") == std::string::npos;
    base.members.push_back(path);
    if (member.isString()) base.strings.push_back(path);
    if (member.isNumeric() || digits) base.numbers.push_back(path);
    if (member.isObject()) Collect(member, path, base);
  }
}

const std::vector<Base>& Bases() {
  static const std::vector<Base> bases = [] {
    std::vector<Base> out;
    std::istringstream lines(kBaseRequests);
    for (std::string line; std::getline(lines, line);) {
      Base& base = out.emplace_back();
      base.about = line.substr(0, line.find(" {"));
      base.text = line.substr(base.about.size() + 1);
      if (!Json::Reader().parse(base.text, base.doc)) throw std::logic_error("does not parse: " + line);
      Collect(base.doc, {}, base);
    }
    return out;
  }();
  return bases;
}

enum class Edit { kTruncate, kReplace, kRemove, kDuplicate };

// An edit of each of a base request's places with each value; a duplicate
// with an empty value repeats the member as it is.
struct Family {
  const char* name;
  Edit edit;
  std::vector<Path> Base::*places;
  std::vector<std::string> values;
};

std::string Repeat(const std::string& unit, size_t times) {
  std::string s;
  for (size_t i = 0; i < times; ++i) s += unit;
  return s;
}

const std::vector<Family>& Families() {
  static const std::vector<Family> families = [] {
    // 1 MiB of ASCII, of raw three-byte UTF-8 and of \u escapes.
    std::vector<std::string> huge;
    for (const std::string unit : {"A", "\344\270\255", "\\u00e9"})
      huge.push_back("\"" + Repeat(unit, kMiB / unit.size()) + "\"");
    // Depth 990 stays under the reader's limit; then one never closed.
    std::vector<std::string> nested;
    for (const int depth : {990, 10000})
      for (const std::string open : {"[", "{\"a\":"})
        nested.push_back(Repeat(open, depth) + "1" + Repeat(open == "[" ? "]" : "}", depth));
    nested.push_back(Repeat("[", 10000) + "1");
    const std::vector<std::string> types = {
        "null", "true", "0", "-1", "1.5", R"("")", R"("text")", "[]", R"({"a":[1,"b",null]})"};
    // At and past the 32- and 64-bit limits, then a million digits.
    std::vector<std::string> numbers = {
        "2147483647", "2147483648",          "-2147483648",         "-2147483649",          "4294967295",
        "4294967296", "9223372036854775807", "9223372036854775808", "-9223372036854775809", "18446744073709551616"};
    numbers.insert(numbers.end(), {"1e400", "-0", std::string(kMiB, '9')});
    // Invalid and overlong UTF-8, unpaired surrogates, valid non-ASCII text
    // (octal escapes, so no letter after them is read as a digit).
    const std::vector<std::string> utf8 = {
        "\"a\300\257b\"", "\"a\340\200\257b\"", "\"a\360\200\200\257b\"",
        "\"a\300\200b\"", "\"a\355\240\200b\"", "\"a\364\220\200\200b\"",
        "\"a\377\376b\"", "\"a\200b\"",         "\"a\342\202\"",
        "\"a\\ud800b\"",  "\"\\udc00\"",        "\"Zo\303\253-\344\270\255-\360\237\230\200\""};
    return std::vector<Family>{
        {"truncated", Edit::kTruncate, &Base::whole, {}},
        {"=", Edit::kReplace, &Base::members, types},
        {"removed", Edit::kRemove, &Base::members, {""}},
        {"twice, then", Edit::kDuplicate, &Base::members, {"", "0"}},
        {"=", Edit::kReplace, &Base::numbers, numbers},
        {"= UTF-8 sample", Edit::kReplace, &Base::strings, utf8},
        {"= 1 MiB string", Edit::kReplace, &Base::strings, huge},
        {"nested", Edit::kReplace, &Base::nests, nested},
    };
  }();
  return families;
}

struct Recipe {
  uint16_t family, base;  // the family past the last: the exit texts
  uint32_t place, value;  // value: the length, with a truncation
};

const std::vector<Recipe>& Recipes() {
  static const std::vector<Recipe> recipes = [] {
    std::vector<Recipe> all;
    for (uint16_t f = 0; f < Families().size(); ++f)
      for (uint16_t b = 0; b < Bases().size(); ++b) {
        const Family& family = Families()[f];
        const Base& base = Bases()[b];
        const size_t values = family.edit == Edit::kTruncate ? base.text.size() : family.values.size();
        for (uint32_t p = 0; p < (base.*family.places).size(); ++p)
          for (uint32_t v = 0; v < values; ++v) all.push_back({f, b, p, v});
      }
    for (uint32_t v = 0; v < std::size(kExitTexts); ++v)
      all.push_back({static_cast<uint16_t>(Families().size()), 0, 0, v});
    std::shuffle(all.begin(), all.end(), std::mt19937_64(kFixedStartingValue));
    return all;
  }();
  return recipes;
}

// raw is spliced into the compact text in place of a marker, so it may be
// anything, valid JSON or not.
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

Case Cook(const Recipe& r) {
  if (r.family == Families().size()) return {kExitTexts[r.value], "exit form " + std::to_string(r.value)};
  const Family& family = Families()[r.family];
  const Base& base = Bases()[r.base];
  if (family.edit == Edit::kTruncate)
    return {base.text.substr(0, r.value), "truncated at " + std::to_string(r.value) + ": " + base.about};
  const Path& path = (base.*family.places)[r.place];
  const Json::Value* was = &base.doc;
  for (const std::string& p : path) was = &(*was)[p];
  std::string raw = family.values[r.value];
  if (raw.empty() && family.edit == Edit::kDuplicate) raw = Compact(*was);
  if (family.places == &Base::numbers && was->isString()) raw = "\"" + raw + "\"";
  const bool plain = raw.size() <= 40 && std::all_of(raw.begin(), raw.end(), [](char c) { return c >= ' '; });
  const std::string value = plain ? raw : "#" + std::to_string(r.value);
  std::string where;
  for (const std::string& p : path) where += (where.empty() ? "" : ".") + p;
  return {Edited(base.doc, family.edit, path, raw), (where.empty() ? "the request" : where) + " " + family.name +
                                                        (value.empty() ? "" : " " + value) + ": " + base.about};
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
    const uint64_t how = draw() % 4;
    if (how == 0)
      c.text[at] = static_cast<char>(c.text[at] ^ (1 << (draw() % 8)));
    else if (how == 1)
      c.text[at] = telling;
    else if (how == 2)
      c.text.erase(at, 1);
    else
      c.text.insert(at, 1, telling);
  }
  c.about = std::to_string(changes) + " random byte changes on " + c.about;
  return c;
}

}  // namespace hk::fuzz
