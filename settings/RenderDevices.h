#pragma once
#include <array>
#include <span>

namespace settings {

// The five render devices, in the order their options are loaded and saved.
enum Device { D3D, D3D9, OpenGL, Null, Pixo, kDeviceCount };

struct RenderDevice {
    const char* radio;   // radio button
    const char* caption; // radio caption
    const char* group;   // option group object name
    const char* groupCaption;
    const char* value; // RenderDevice value, and the section of its options
};

// One option key and its check box per device (null: the device lacks it).
struct DeviceOptionCell {
    const char* control;
    bool def;
    const char* caption; // null: the row's caption
};

struct DeviceOption {
    const char* key;
    const char* caption;
    std::array<DeviceOptionCell, kDeviceCount> cells;
};

std::span<const RenderDevice> RenderDevices();
// The devices a build of the game can draw with: the native Linux build only
// OpenGL (through SDL); build 3374 and later no longer ship Direct3D 8
// (D3DDrv). An unknown build offers all five.
std::array<bool, kDeviceCount> DevicesOfBuild(bool nativeLinux, int build);
std::span<const DeviceOption> DeviceOptions();
// The text field of each device's DesiredRefreshRate (null when none).
const char* RefreshRateField(Device d);
// The save order of one device: option indices; OpenGL writes
// UseCompressedLightmaps before ReduceMouseLag.
std::span<const int> DeviceSaveOrder(Device d);

} // namespace settings
