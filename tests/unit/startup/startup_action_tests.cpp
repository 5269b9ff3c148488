// Request 15001 (enable, disable, remove) on the real registry and files of
// the Wine prefix, and requests whose code and "REQUEST" do not belong together.
#include "core/globals.h"
#include "startup/startup_test_support.h"
#include "support/recording_socket.h"

namespace {

using namespace hk::test;
using namespace hk::startup;

const Bytes kEnabled = {2, 0, 0, 0, 0}, kDisabled = {3, 0, 0, 0, 0};

class StartupActions : public StartupTest {};

TEST_F(StartupActions, EnableAndDisableRewriteOnlyTheValuesThatExist) {
  const std::wstring name = L"hk-act-\u00e9t\u00e9";
  scratch_.Set(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun, name, {7, 1, 2, 3, 4, 5, 6, 7});
  scratch_.Set(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun32, name, kDisabled);
  scratch_.Key(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedStartupFolder);
  scratch_.Set(HKEY_USERS, KEY_WOW64_64KEY, kUserPrefix + kApprovedStartupFolder, L"hk-user-app.lnk", kEnabled);

  const auto value = [](HKEY hive, const std::wstring& key, const std::wstring& value_name) {
    return ValueBytes(hive, KEY_WOW64_64KEY, key, value_name);
  };
  struct Step {
    std::string action;
    std::wstring app, user;
    const char* result;
    std::optional<Bytes> run, run32, folder, userFolder;  // the approval values afterwards
  };
  const Step steps[] = {
      {"enable", name, L"PUBLIC", "Success", kEnabled, kEnabled, std::nullopt, kEnabled},
      {"DISABLE", name, L"Public", "Success", kDisabled, kDisabled, std::nullopt, kEnabled},
      {"Disable", L"hk-user-app", kUser, "Success", kDisabled, kDisabled, std::nullopt, kDisabled},
      {"ENABLE", L"hk-user-app", L"HKTEST\\nobody", "Failed", kDisabled, kDisabled, std::nullopt, kDisabled},
      {"PAUSE", name, L"Public", "Failed", kDisabled, kDisabled, std::nullopt, kDisabled},
      {"ENABLE", L"", L"Public", "Failed", kDisabled, kDisabled, std::nullopt, kDisabled},
  };
  for (const Step& s : steps) {
    const std::string label = s.action + " " + hk::ToUtf8(s.app) + " of " + hk::ToUtf8(s.user);
    EXPECT_EQ(Act(s.action, s.app, s.user), s.result) << label;
    EXPECT_EQ(value(HKEY_LOCAL_MACHINE, kApprovedRun, name), s.run) << label;
    EXPECT_EQ(value(HKEY_LOCAL_MACHINE, kApprovedRun32, name), s.run32) << label;
    EXPECT_EQ(value(HKEY_LOCAL_MACHINE, kApprovedStartupFolder, name + L".lnk"), s.folder) << label;
    EXPECT_EQ(value(HKEY_USERS, kUserPrefix + kApprovedStartupFolder, L"hk-user-app.lnk"), s.userFolder) << label;
  }

  Wmi().Results(kStartupQuery).AddRow(StartupCommand(name, L"Public", L"HKLM\\...\\Run", L"C:\\t\\x.bat"));
  const auto rows = Rows(List());
  ASSERT_EQ(rows.count(hk::ToUtf8(name)), 1u);
  EXPECT_EQ(rows.at(hk::ToUtf8(name)).second["STATUS"], "Disabled");
}

TEST_F(StartupActions, RemoveTakesTheShortcutElseTheRunValue) {
  struct Case {
    const wchar_t* name;
    bool shortcut, run64, run32;
    const char* result;
    bool run64After, run32After;  // which Run values remain
  };
  const Case cases[] = {
      {L"hk-rm-shortcut", true, true, false, "Success", true, false},
      {L"hk-rm-\u00e5sa", true, false, false, "Success", false, false},
      {L"hk-rm-run64", false, true, false, "Success", false, false},
      {L"hk-rm-both-views", false, true, true, "Success", false, true},
      {L"hk-rm-run32", false, false, true, "Success", false, false},
      {L"hk-rm-nothing", false, false, false, "Failed", false, false},
  };
  for (const Case& c : cases) {
    // Without WOW64 there is one view.
    if (c.run32 && !wow64_) continue;
    const std::wstring shortcut = std::wstring(kCommonStartupFolder) + c.name + L".lnk";
    if (c.shortcut) scratch_.File(shortcut);
    if (c.run64) scratch_.Set(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kRunKey, c.name, TextBytes(L"x.exe"), REG_SZ);
    if (c.run32) scratch_.Set(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kRunKey, c.name, TextBytes(L"x.exe"), REG_SZ);

    const std::string label = hk::ToUtf8(c.name);
    EXPECT_EQ(Act("remove", c.name), c.result) << label;
    EXPECT_EQ(::GetFileAttributesW(shortcut.c_str()), INVALID_FILE_ATTRIBUTES) << label;
    EXPECT_EQ(ValueBytes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kRunKey, c.name).has_value(), c.run64After) << label;
    EXPECT_EQ(ValueBytes(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kRunKey, c.name).has_value(), c.run32After) << label;
  }
}

TEST_F(StartupActions, ARequestThatDoesNotFitItsCodeIsNotAnswered) {
  const std::pair<int, const char*> cases[] = {
      {15001, "ALL_APPS"}, {15000, "REQUEST_THIS_APP_ACTION"}, {15002, "ALL_APPS"}, {15000, ""}};
  for (const auto& [code, request] : cases) {
    Json::Value data;
    data["REQUEST"] = request;
    EXPECT_TRUE(Serve(code, data).isNull()) << code << " " << request;
  }
  Json::Value lower;
  lower["REQUEST"] = "all_apps";
  EXPECT_EQ(Serve(15000, lower)["responseCode"], 15300);

  // What the request handler then sends: the empty text.
  g_running = 1;
  RecordingWsSession session;
  session.socket().DeliverText(
      R"({"toolId":15,"requestId":3,"requestMessage":{"requestCode":15001,"requestData":{"REQUEST":"ALL_APPS"}}})");
  EXPECT_EQ(session.texts(), std::vector<std::string>{""});
  g_running = 0;
}

}  // namespace
