// Shared by the startup tests: registry values and files the test makes in
// the Wine prefix and takes away again, the probe executables, the fake WMI
// rows of startup commands and profiles, and a way to run the dispatcher.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "core/messages.h"
#include "core/text.h"
#include "support/fake_wmi.h"
#include "tools/startup/Startup_Process.h"
#include "tools/startup/startup_rules.h"
#include "wmi/wmi_test_support.h"

// Failure messages show JSON as text rather than as bytes.
namespace Json {
inline void PrintTo(const Value& value, std::ostream* out) { *out << value.toStyledString(); }
}  // namespace Json

namespace hk::test {

inline constexpr wchar_t kStartupQuery[] = L"SELECT * FROM Win32_StartupCommand";
inline constexpr wchar_t kProfileQuery[] = L"SELECT * FROM Win32_UserProfile Where Loaded = TRUE";
// A user's hive made below HKEY_USERS for the tests.
inline constexpr wchar_t kTestUserSid[] = L"S-1-5-21-4242-4242-4242-1001";
inline constexpr wchar_t kTestUser[] = L"HKTEST\\startup-tester";

// Values written and keys created by a test, gone when it ends. A key that
// did not exist is removed with everything below it from its first missing
// component on.
class RegistryScratch {
 public:
  RegistryScratch() = default;
  RegistryScratch(const RegistryScratch&) = delete;
  RegistryScratch& operator=(const RegistryScratch&) = delete;
  ~RegistryScratch() {
    for (auto it = values_.rbegin(); it != values_.rend(); ++it) {
      HKEY key = nullptr;
      if (::RegOpenKeyExW(it->hive, it->path.c_str(), 0, KEY_SET_VALUE | it->view, &key) == ERROR_SUCCESS) {
        ::RegDeleteValueW(key, it->name.c_str());
        ::RegCloseKey(key);
      }
    }
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
      const size_t slash = it->path.rfind(L'\\');
      HKEY parent = it->hive;
      bool opened = false;
      if (slash != std::wstring::npos) {
        opened = ::RegOpenKeyExW(it->hive, it->path.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | it->view, &parent) ==
                 ERROR_SUCCESS;
        if (!opened) continue;
      }
      ::RegDeleteTreeW(parent, it->path.substr(slash == std::wstring::npos ? 0 : slash + 1).c_str());
      if (opened) ::RegCloseKey(parent);
    }
  }

  // view: KEY_WOW64_32KEY or KEY_WOW64_64KEY.
  void Bytes(HKEY hive, REGSAM view, const std::wstring& path, const std::wstring& name,
             const std::vector<uint8_t>& data) {
    Write(hive, view, path, name, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
  }
  void Text(HKEY hive, REGSAM view, const std::wstring& path, const std::wstring& name, const std::wstring& text) {
    Write(hive, view, path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  // Makes the key (and its parents) without a value.
  void Key(HKEY hive, REGSAM view, const std::wstring& path) {
    NoteMissing(hive, view, path);
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << ToUtf8(path);
    ::RegCloseKey(key);
  }

 private:
  struct Entry {
    HKEY hive;
    REGSAM view;
    std::wstring path;
    std::wstring name;
  };

  void Write(HKEY hive, REGSAM view, const std::wstring& path, const std::wstring& name, DWORD type, const void* data,
             DWORD size) {
    Key(hive, view, path);
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(hive, path.c_str(), 0, KEY_SET_VALUE | view, &key), ERROR_SUCCESS);
    const LSTATUS written = ::RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(key);
    ASSERT_EQ(written, ERROR_SUCCESS) << ToUtf8(name);
    values_.push_back({hive, view, path, name});
  }

  void NoteMissing(HKEY hive, REGSAM view, const std::wstring& path) {
    for (size_t end = path.find(L'\\');; end = path.find(L'\\', end + 1)) {
      const std::wstring part = path.substr(0, end);
      HKEY key = nullptr;
      if (::RegOpenKeyExW(hive, part.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        created_.push_back({hive, view, part, L""});
        return;
      }
      ::RegCloseKey(key);
      if (end == std::wstring::npos) return;
    }
  }

  std::vector<Entry> values_;
  std::vector<Entry> created_;
};

// The value's bytes, or nullopt when it does not exist.
inline std::optional<std::vector<uint8_t>> ValueBytes(HKEY hive, REGSAM view, const std::wstring& path,
                                                      const std::wstring& name) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return std::nullopt;
  std::vector<uint8_t> data(4096);
  DWORD size = static_cast<DWORD>(data.size());
  const LSTATUS status = ::RegQueryValueExW(key, name.c_str(), nullptr, nullptr, data.data(), &size);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  data.resize(size);
  return data;
}

// Files put in place for a test and removed after it.
class FileScratch {
 public:
  FileScratch() = default;
  FileScratch(const FileScratch&) = delete;
  FileScratch& operator=(const FileScratch&) = delete;
  ~FileScratch() {
    std::error_code ignored;
    for (auto it = paths_.rbegin(); it != paths_.rend(); ++it) std::filesystem::remove_all(*it, ignored);
  }
  // A file with some bytes; its folders are made when missing.
  void Make(const std::filesystem::path& file) {
    Folders(file.parent_path());
    std::FILE* out = _wfopen(file.c_str(), L"wb");
    ASSERT_NE(out, nullptr) << file.string();
    std::fputs("shortcut", out);
    std::fclose(out);
    paths_.push_back(file);
  }
  void Copy(const std::filesystem::path& from, const std::filesystem::path& to) {
    Folders(to.parent_path());
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    ASSERT_FALSE(error) << to.string() << ": " << error.message();
    paths_.push_back(to);
  }

 private:
  // Remembers the first folder it had to make, so it goes at the end.
  void Folders(const std::filesystem::path& folder) {
    std::filesystem::path missing;
    for (std::filesystem::path p = folder; !p.empty() && !std::filesystem::exists(p); p = p.parent_path()) {
      missing = p;
      if (p == p.parent_path()) break;
    }
    std::filesystem::create_directories(folder);
    if (!missing.empty()) paths_.push_back(missing);
  }
  std::vector<std::filesystem::path> paths_;
};

// The folder of this test program, where the probe executables are built.
inline std::wstring ProbePath(const wchar_t* name) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self);
  folder.resize(folder.rfind(L'\\') + 1);
  return folder + name;
}

inline FakeRow StartupCommand(const std::wstring& name, const std::wstring& user, const std::wstring& location,
                              const std::wstring& command) {
  FakeRow row;
  row.Text(L"Name", name).Text(L"User", user).Text(L"Location", location).Text(L"Command", command);
  return row;
}

inline FakeRow Profile(const std::wstring& localPath, const std::wstring& sid) {
  FakeRow row;
  row.Text(L"LocalPath", localPath).Text(L"SID", sid);
  return row;
}

inline Json::Value ParseResponse(const char* text) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  const size_t length = text ? std::strlen(text) : 0;
  EXPECT_TRUE(text && reader->parse(text, text + length, &value, &errors)) << errors;
  return value;
}

// A log in a scratch folder, the fake WMI with the profile of the test user,
// and the dispatcher run on a COM thread of its own.
class StartupTest : public WmiLogTest {
 protected:
  void SetUp() override {
    WmiLogTest::SetUp();
    Startup_Process::detectBitness();
    wow64_ = Startup_Process::systemBitness() == 64;
    FreshWmi();
  }
  // A new fake WMI that knows only the test user's profile.
  FakeWmi& FreshWmi() {
    wmi_.reset();
    wmi_.emplace();
    wmi_->Results(kProfileQuery).AddRow(Profile(L"C:\\users\\startup-tester", kTestUserSid));
    return *wmi_;
  }
  FakeWmi& Wmi() { return *wmi_; }
  void TearDown() override {
    if (text_) FreeText(text_);
    text_ = nullptr;
    WmiLogTest::TearDown();
  }

  // The answer of one request, or null when none was built.
  Json::Value Serve(int code, const Json::Value& data) {
    if (text_) FreeText(text_);
    text_ = nullptr;
    Json::Value request = data;
    com_ = RunOnComThread([&] {
      Json::Value response;
      Startup_Process::ServerToAgentHandler(code, &request, &response, &text_);
    });
    return text_ ? ParseResponse(text_) : Json::Value();
  }
  Json::Value List() {
    Json::Value data;
    data["REQUEST"] = "ALL_APPS";
    data["WebClientID"] = "web-list";
    return Serve(15000, data);
  }
  Json::Value Act(const std::string& action, const std::wstring& name, const std::wstring& user = L"Public") {
    Json::Value data;
    data["REQUEST"] = "REQUEST_THIS_APP_ACTION";
    data["WebClientID"] = "web-act";
    data["ACTION"] = action;
    data["APP_NAME"] = ToUtf8(name);
    data["USER"] = ToUtf8(user);
    return Serve(15001, data);
  }
  // The listed rows by name; a name listed twice fails the test.
  static std::map<std::string, Json::Value> ByName(const Json::Value& answer) {
    std::map<std::string, Json::Value> rows;
    const Json::Value& list = answer["responseData"]["APPS_LIST"];
    if (!list.isArray()) return rows;
    for (const Json::Value& row : list) {
      EXPECT_TRUE(rows.emplace(row["NAME"].asString(), row).second) << "listed twice: " << row["NAME"];
    }
    return rows;
  }
  // The position of each named row in the list; -1 when not listed.
  static int PositionOf(const Json::Value& answer, const std::string& name) {
    const Json::Value& list = answer["responseData"]["APPS_LIST"];
    for (Json::ArrayIndex i = 0; list.isArray() && i < list.size(); ++i) {
      if (list[i]["NAME"] == name) return static_cast<int>(i);
    }
    return -1;
  }

  std::optional<FakeWmi> wmi_;
  RegistryScratch registry_;
  FileScratch files_;
  ComBalance com_;
  bool wow64_ = false;
  char* text_ = nullptr;
};

}  // namespace hk::test
