// Shared by the startup tests: registry values and files a test makes in the
// Wine prefix and takes away again, the probe executables, fake WMI rows, and
// the dispatcher run on a COM thread of its own.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/text.h"
#include "support/fake_wmi.h"
#include "tools/startup/Startup_Process.h"
#include "tools/startup/startup_rules.h"
#include "wmi/wmi_test_support.h"

namespace Json {
inline void PrintTo(const Value& value, std::ostream* out) { *out << value.toStyledString(); }
}  // namespace Json

namespace hk::test {

inline constexpr wchar_t kStartupQuery[] = L"SELECT * FROM Win32_StartupCommand";
inline constexpr wchar_t kProfileQuery[] = L"SELECT * FROM Win32_UserProfile Where Loaded = TRUE";
// A user's hive made below HKEY_USERS for the tests, and its user.
inline constexpr wchar_t kUserSid[] = L"S-1-5-21-4242-4242-4242-1001";
inline constexpr wchar_t kUser[] = L"HKTEST\\startup-tester";
inline const std::wstring kUserPrefix = std::wstring(kUserSid) + L"\\";
using Bytes = std::vector<uint8_t>;

inline Bytes TextBytes(const std::wstring& text) {
  const auto* first = reinterpret_cast<const uint8_t*>(text.c_str());
  return Bytes(first, first + (text.size() + 1) * sizeof(wchar_t));
}

// The value's data; nullopt when it does not exist.
inline std::optional<Bytes> ValueBytes(HKEY hive, REGSAM view, const std::wstring& path, const std::wstring& name) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return std::nullopt;
  Bytes data(4096);
  DWORD size = static_cast<DWORD>(data.size());
  const LSTATUS status = ::RegQueryValueExW(key, name.c_str(), nullptr, nullptr, data.data(), &size);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  data.resize(size);
  return data;
}

// Values and files a test made, removed when it ends, and with them the
// approval keys once nothing else is in them and the test user's hive.
class Scratch {
 public:
  ~Scratch() {
    for (const Value& v : values_) {
      ::RegDeleteValueW(v.key, v.name.c_str());
      ::RegCloseKey(v.key);
    }
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      for (const wchar_t* key : {startup::kApprovedRun, startup::kApprovedRun32, startup::kApprovedStartupFolder,
                                 L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved"}) {
        DeleteIfEmpty(hive, key);
      }
    }
    // The test user's hive is the tests' own.
    ::RegDeleteTreeW(HKEY_USERS, kUserSid);
    std::error_code ignored;
    for (const auto& file : files_) std::filesystem::remove_all(file, ignored);
  }
  // view: KEY_WOW64_32KEY or KEY_WOW64_64KEY. The key is made when missing.
  void Set(HKEY hive, REGSAM view, const std::wstring& path, const std::wstring& name, const Bytes& data,
           DWORD type = REG_BINARY) {
    // The open key keeps its view for the removal.
    values_.push_back({Create(hive, view, path), name});
    EXPECT_EQ(::RegSetValueExW(values_.back().key, name.c_str(), 0, type, data.data(), DWORD(data.size())),
              ERROR_SUCCESS);
  }
  void Key(HKEY hive, REGSAM view, const std::wstring& path) { ::RegCloseKey(Create(hive, view, path)); }
  // A file with some bytes, or a copy of from; the folder that holds it
  // goes too when remove_folder is set.
  void File(const std::filesystem::path& path, const std::filesystem::path& from = {}, bool remove_folder = false) {
    std::filesystem::create_directories(path.parent_path());
    if (from.empty()) {
      std::ofstream(path) << "shortcut";
    } else {
      std::filesystem::copy_file(from, path, std::filesystem::copy_options::overwrite_existing);
    }
    files_.push_back(remove_folder ? path.parent_path() : path);
  }

 private:
  struct Value {
    HKEY key;
    std::wstring name;
  };
  static HKEY Create(HKEY hive, REGSAM view, const std::wstring& path) {
    HKEY key = nullptr;
    EXPECT_EQ(::RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }
  static void DeleteIfEmpty(HKEY hive, const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return;
    DWORD subkeys = 1, values = 1;
    ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                       nullptr);
    ::RegCloseKey(key);
    if (subkeys == 0 && values == 0) ::RegDeleteKeyExW(hive, path.c_str(), KEY_WOW64_64KEY, 0);
  }
  std::vector<Value> values_;
  std::vector<std::filesystem::path> files_;
};

// The probe executables are built beside this test program.
inline std::wstring ProbePath(const wchar_t* name) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self);
  return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}

inline FakeRow StartupCommand(const std::wstring& name, const std::wstring& user, const std::wstring& location,
                              const std::wstring& command) {
  FakeRow row;
  row.Text(L"Name", name).Text(L"User", user).Text(L"Location", location).Text(L"Command", command);
  return row;
}

class StartupTest : public WmiLogTest {
 protected:
  void SetUp() override {
    WmiLogTest::SetUp();
    Startup_Process::detectBitness();
    wow64_ = Startup_Process::systemBitness() == 64;
    FreshWmi();
  }
  // A new fake WMI that knows the test user's loaded profile.
  FakeWmi& FreshWmi() {
    wmi_.reset();
    wmi_.emplace()
        .Results(kProfileQuery)
        .AddRow()
        .Text(L"LocalPath", L"C:\\users\\startup-tester")
        .Text(L"SID", kUserSid);
    return *wmi_;
  }
  FakeWmi& Wmi() { return *wmi_; }

  // The answer, or null when none was built.
  Json::Value Serve(int code, Json::Value data) {
    char* text = nullptr;
    com_ = RunOnComThread([&] {
      Json::Value response;
      Startup_Process::ServerToAgentHandler(code, &data, &response, &text);
    });
    Json::Value answer;
    if (text) {
      EXPECT_TRUE(Json::Reader().parse(text, answer)) << text;
    }
    FreeText(text);
    return answer;
  }
  Json::Value List() {
    Json::Value data;
    data["REQUEST"] = "ALL_APPS";
    data["WebClientID"] = "web-list";
    return Serve(15000, data);
  }
  // "ACTION_RESULT" of an action.
  Json::Value Act(const std::string& action, const std::wstring& name, const std::wstring& user = L"Public") {
    Json::Value data;
    data["REQUEST"] = "REQUEST_THIS_APP_ACTION";
    data["WebClientID"] = "web-act";
    data["ACTION"] = action;
    data["APP_NAME"] = ToUtf8(name);
    data["USER"] = ToUtf8(user);
    return Serve(15001, data)["responseData"]["ACTION_RESULT"];
  }
  // Each listed row by name, with its position.
  static std::map<std::string, std::pair<int, Json::Value>> Rows(const Json::Value& answer) {
    std::map<std::string, std::pair<int, Json::Value>> rows;
    const Json::Value& list = answer["responseData"]["APPS_LIST"];
    for (Json::ArrayIndex i = 0; list.isArray() && i < list.size(); ++i) {
      EXPECT_TRUE(rows.emplace(list[i]["NAME"].asString(), std::pair(int(i), list[i])).second) << list[i];
    }
    return rows;
  }

  std::optional<FakeWmi> wmi_;
  Scratch scratch_;
  ComBalance com_;
  bool wow64_ = false;
};

}  // namespace hk::test
