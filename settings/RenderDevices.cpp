#include "settings/RenderDevices.h"

#include <vector>

namespace settings {

namespace {

constexpr RenderDevice kDevices[] = {
    {"rbDirect3d", "Direct3d", "groupDirect3d", "Direct3d Display Settings",
     "D3DDrv.D3DRenderDevice"},
    {"rbD3D9", "Direct3d DX9", "gbD3D9", "Direct3d9 Display Settings", "D3D9Drv.D3D9RenderDevice"},
    {"rbOpenGL", "OpenGL", "groupOpenGL", "OpenGL Display Settings",
     "OpenGLDrv.OpenGLRenderDevice"},
    {"rbNull", "Null", "gbNull", "Null Display Settings", "Engine.NullRenderDevice"},
    {"rbPixo", "Pixo", "gbPixo", "Pixo Display Settings", "PixoDrv.PixoRenderDevice"},
};

constexpr DeviceOptionCell X{nullptr, false, nullptr};

//                 key, caption, {D3D, D3D9, OpenGL, Null, Pixo}
constexpr DeviceOption kOptions[] = {
    {"DetailTextures", "Detail textures",
     {{{"cbDetailText", true, nullptr}, {"cb9DetailTex", true, nullptr}, {"cbOpenDetailTex", true, nullptr},
       {"cbNulldetailText", true, nullptr}, {"cbPixoDetailTex", false, nullptr}}}},
    {"HighDetailActors", "High detail actors",
     {{{"cbHighDetailActors", true, nullptr}, {"cb9HightDetailAct", true, nullptr},
       {"cbOpenHighDetailactors", true, nullptr}, {"cbNullHighDetailAct", true, nullptr},
       {"cbPixoHighDetailAct", false, nullptr}}}},
    {"SuperHighDetailActors", "Super high detail actors",
     {{{"cbSuperHighDetailActors", true, nullptr}, {"cb9SuperHightDetailAct", false, nullptr},
       {"cbOpenSuperhighdetailactors", true, nullptr}, {"cbNullSuperHighDetailActs", true, nullptr},
       {"cbPixoSuperHighDetailAct", false, nullptr}}}},
    {"UsePrecaching", "Use precaching",
     {{{"cbPrecaching", true, nullptr}, {"cb9Precaching", true, nullptr}, {"cbOpenPrecaching", true, "Precaching"},
       {"cbNullPrecaching", true, "Precaching"}, {"cbPixoPrecaching", true, nullptr}}}},
    {"UseTrilinear", "Use trilinear",
     {{{"cbTrilinear", true, nullptr}, {"cb9Trilinear", true, nullptr}, {"cbOpenTrilinear", true, "Trilinear"}, X, X}}},
    {"ReduceMouseLag", "Reduce mouse lag",
     {{{"cbMouseLag", true, nullptr}, {"cb9MouseLag", true, nullptr}, {"cbOpenMouseLag", false, "Reduce mouselag"},
       X, {"cbPixoReduceMouseLag", false, nullptr}}}},
    {"UseTripleBuffering", "Use triple buffering",
     {{{"cbTripleBuffering", false, nullptr}, {"cb9TripleBuffering", false, nullptr}, X, X, X}}},
    {"UseCubemaps", "Use cubemaps", {{{"cbCubemaps", true, nullptr}, {"cb9Cubemaps", true, nullptr}, X, X, X}}},
    {"UseCompressedLightmaps", "Use compressed lightmaps",
     {{{"cbCompressedLightmaps", true, nullptr}, {"cb9CompresseLightmaps", true, nullptr},
       {"cbOpenCompressedLightmaps", true, "Compressed lightmaps"},
       {"cbNullCompresseLight", true, "Compressed lightmaps"}, {"cbPixoCompressedlightmaps", false, nullptr}}}},
    {"Use16bit", "Use 16bit",
     {{{"cbUse16Bit", false, nullptr}, {"cb916Bit", false, nullptr}, X, X, {"cbPixo16Bit", true, nullptr}}}},
    {"Use16bitTextures", "Use 16bit textures",
     {{{"cb16bittextures", false, nullptr}, {"cb916BitText", false, nullptr}, X, X, {"cbPixo16BitTex", false, nullptr}}}},
    {"UseVSync", "Use VSync",
     {{{"cbVSync", false, nullptr}, {"cb9VSync", false, nullptr}, {"cbOpenVSync", false, "Use vsync"}, X, X}}},
    {"DecompressTextures", "Decompress textures",
     {{{"cbDecompressTex", false, nullptr}, {"cb9DecompressTex", false, nullptr}, X, X, X}}},
    {"LowQualityTerrain", "Low quality terrain",
     {{{"cbLowQualTerr", false, nullptr}, {"cb9LowQualityTerrain", false, nullptr}, X, X,
       {"cbPixoLowQualTerrain", true, nullptr}}}},
    {"OverrideDesktopRefreshRate", "Override desktop refreshrate",
     {{{"cbOverrideRefreshrate", false, nullptr}, {"cb9OverrideRefreshrate", false, nullptr}, X, X, X}}},
    {"AvoidHitches", "Avoid hitches",
     {{{"cbAvoidHitches", false, nullptr}, {"cb9AvoidHitches", false, nullptr}, X, X, X}}},
    {"UseVBO", "Use VBO", {{X, X, {"cbOpenVBO", true, nullptr}, X, X}}},
    {"Zoom2X", "Zoom x2", {{X, X, X, X, {"cbPixoZoomx2", true, nullptr}}}},
    {"FogEnabled", "Fog enabled", {{X, X, X, X, {"cbPixoFogenabled", true, nullptr}}}},
    {"SimpleMaterials", "Simple materials", {{X, X, X, X, {"cbPixoSimpleMaterials", true, nullptr}}}},
    {"LimitTextureSize", "Limit texture size", {{X, X, X, X, {"cbPixoLimitTextureSize", true, nullptr}}}},
    {"UseStencil", "Stencil",
     {{X, X, {"cbOpenStencil", false, nullptr}, {"cbNullStencil", false, nullptr}, {"cbPixoStencil", false, nullptr}}}},
};

constexpr const char* kRefresh[] = {"edtRefreshrate", "edt9DesiredRefreshrate", nullptr, nullptr,
                                    "edtPixoDesiredRefreshrate"};

std::vector<int> saveOrder(Device d) {
    std::vector<int> order;
    for (int i = 0; i < static_cast<int>(std::size(kOptions)); ++i) order.push_back(i);
    if (d == OpenGL) {
        // ReduceMouseLag (5) goes after UseCompressedLightmaps (8).
        order.erase(order.begin() + 5);
        order.insert(order.begin() + 8, 5);
    }
    return order;
}

} // namespace

std::array<bool, kDeviceCount> DevicesOfBuild(bool nativeLinux, int build) {
    std::array<bool, kDeviceCount> offered{};
    offered.fill(!nativeLinux);
    offered[OpenGL] = true;
    if (build >= 3374) offered[D3D] = false;
    return offered;
}

std::span<const RenderDevice> RenderDevices() { return kDevices; }
std::span<const DeviceOption> DeviceOptions() { return kOptions; }
const char* RefreshRateField(Device d) { return kRefresh[d]; }

std::span<const int> DeviceSaveOrder(Device d) {
    static const std::array<std::vector<int>, kDeviceCount> orders = {
        saveOrder(D3D), saveOrder(D3D9), saveOrder(OpenGL), saveOrder(Null), saveOrder(Pixo)};
    return orders[d];
}

} // namespace settings
