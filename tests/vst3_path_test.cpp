// The VST3 module's paths when it lies in a folder whose path is longer than
// the classic 260-character limit: the module folder, and the Resources
// folder beside it inside the bundle.
// Usage: vst3_path_tests <path probe module> <vst3 module>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "vst3_host.h"

namespace fs = std::filesystem;

namespace {

const char* g_probe = nullptr;
const char* g_module = nullptr;

TEST(Vst3Paths, LongBundlePath) {
    // <temp>/vexo-long-path-test/<long names...>/brume-vexo.vst3/Contents/<arch>/
    std::error_code ec;
    // One folder per build tree, so that test runs of two builds never meet.
    const fs::path base =
        fs::temp_directory_path(ec) / ("vexo-long-path-test-" + std::to_string(std::hash<std::string>{}(g_module)));
    fs::remove_all(base, ec);
    fs::path bundle = base;
    for (int i = 0; i < 6; ++i) bundle /= std::string(48, static_cast<char>('a' + i));
    bundle /= "brume-vexo.vst3";
    const fs::path contents = bundle / "Contents";
    const fs::path arch = contents / fs::path(g_module).parent_path().filename();
    fs::create_directories(arch, ec);
    fs::create_directories(contents / "Resources", ec);
    ASSERT_TRUE(fs::is_directory(arch) && fs::is_directory(contents / "Resources"));
    const fs::path probe_copy = arch / fs::path(g_probe).filename();
    const fs::path module_copy = arch / fs::path(g_module).filename();
    fs::copy_file(g_probe, probe_copy, fs::copy_options::overwrite_existing, ec);
    ASSERT_FALSE(ec) << ec.message();
    fs::copy_file(g_module, module_copy, fs::copy_options::overwrite_existing, ec);
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_GT(arch.string().size(), 300u);

    {
        vexo_test::LoadedVst3 probe(probe_copy.string().c_str());
        ASSERT_NE(probe.handle, nullptr);
        auto module_dir = reinterpret_cast<const char* (*)()>(vexo::platform_module_symbol(probe.handle, "vexo_probe_module_dir"));
        auto resources_dir =
            reinterpret_cast<const char* (*)()>(vexo::platform_module_symbol(probe.handle, "vexo_probe_resources_dir"));
        ASSERT_TRUE(module_dir && resources_dir);
        const std::string dir = module_dir() ? module_dir() : "";
        const std::string res = resources_dir() ? resources_dir() : "";
        const char sep = vexo::platform_path_separator();
        EXPECT_GT(dir.size(), 300u) << dir;
        EXPECT_TRUE(fs::equivalent(dir, arch, ec)) << dir;
        EXPECT_NE(dir.back(), sep);
        // The Resources folder is a sibling of the module's folder.
        const std::string parent = dir.substr(0, dir.find_last_of(sep));
        EXPECT_EQ(res, parent + sep + "Resources");
        EXPECT_TRUE(fs::equivalent(res, contents / "Resources", ec)) << res;
    }
    {
        // The real module loads from there and works.
        vexo_test::LoadedVst3 module(module_copy.string().c_str());
        ASSERT_NE(module.factory, nullptr);
        EXPECT_EQ(VCALL(vst3::IPluginFactory3Vtbl, module.factory, countClasses), 2);
    }
    fs::remove_all(base, ec);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 3) return 2;
    g_probe = argv[1];
    g_module = argv[2];
    return RUN_ALL_TESTS();
}
