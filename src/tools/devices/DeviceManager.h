// Tool 10: device classes and devices as Device Manager groups them, one
// device's properties, and device actions through the device action program
// (DevExe32.exe / DevExe64.exe in "<parent of the host's folder>\bin\").
#pragma once
#include <json/value.h>

#include <string>

#include "tools/devices/device_render.h"

namespace hk::devices {

// Request codes 10000 to 10003 ("ALL_DEVICE", "GET_THS_DEVICE",
// "GET_THS_DRIVER_INFO", "REQUEST_THIS_DRIVER_ACTION"). Stores the formatter
// response through responseText; 1, or 0 when only the error response could
// be built. Any other code, or a keyword that does not match: 1, nothing built.
int DeviceManagerDispatch(int requestCode, Json::Value* requestData, Json::Value* responseData, char** responseText);

// The classes of the present devices (SetupAPI).
DeviceClasses CollectDeviceClasses();

// Win32_PnPEntity. Without a class: "DRIVERS_COUNT" and "DRIVERS_ENABLE_COUNT"
// into data; with one (in braces): its members as "DRIVER_LIST".
void getThisDeviceList(Json::Value& data, const std::wstring* classGuid);
// The device's properties as "DRIVER_INFO".
void getThisDeviceDetails(Json::Value& data, const std::wstring& deviceId);
// The device's "Status"; empty when no device matches.
std::wstring getThisDeviceStatus(const std::wstring& deviceId);

// Starts the device action program for the action, waits 3 s and judges by
// the device's status: "ACTION_NAME" and "ACTION_RESULT" into data.
void InitiateDevExe(const std::string& action, const std::wstring& deviceId, const std::wstring& classGuid,
                    Json::Value& data);

}  // namespace hk::devices
