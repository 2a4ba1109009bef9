// DLL planting: the helper often runs from a folder the user can write to. A
// DLL named like a system DLL, put beside the helper or in its current
// directory, must never be loaded.
#include <gtest/gtest.h>

#include <windows.h>

#include "run_fixture.hpp"

namespace vostrane::testing {
namespace {

// Names of DLLs that Windows, the C runtime or OpenSSL may load by name while
// the helper runs (beyond the ones it imports, which Windows takes from the
// system directory). tests/CMakeLists.txt names the same ones for Wine.
const std::vector<std::wstring> kPlantedNames = {
    L"version.dll",  L"uxtheme.dll",  L"dwmapi.dll",  L"cryptbase.dll", L"cryptsp.dll", L"rsaenh.dll",
    L"bcrypt.dll",   L"bcryptprimitives.dll",         L"winmm.dll",     L"userenv.dll", L"profapi.dll",
    L"secur32.dll",  L"sspicli.dll",  L"msi.dll",     L"shell32.dll",   L"shlwapi.dll", L"ole32.dll",
    L"oleaut32.dll", L"propsys.dll",  L"wldp.dll",    L"ntmarta.dll",   L"apphelp.dll", L"dbghelp.dll",
};

void plant(const std::filesystem::path& folder) {
    for (const auto& name : kPlantedNames) std::filesystem::copy_file(build_file(L"planted-dll.dll"), folder / name);
}

std::vector<std::wstring> markers_in(const std::filesystem::path& folder) {
    std::vector<std::wstring> markers;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == L".loaded") markers.push_back(entry.path().filename().wstring());
    }
    return markers;
}

// Wine prefers its own builtin DLLs to ones found on disk. The build runs
// these tests with WINEDLLOVERRIDES asking Wine to prefer DLLs on disk for the
// planted names, as Windows would for names that are not known system DLLs;
// Wine reads it from the environment a process starts with, so it is set for
// the test program, whose children inherit it.
void require_planted_dlls_preferred() {
    wchar_t overrides[4096] = {};
    ::GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 4096);
    ASSERT_NE(std::wstring(overrides).find(L"version"), std::wstring::npos)
        << "run through ctest, which sets WINEDLLOVERRIDES for these tests";
}

// The control: a program that loads a DLL by its bare name gets the planted
// copy beside it, which leaves its marker.
TEST(DllSafety, APlantedDllIsFoundAndLeavesItsMarkerWhenSearchIsNotRestricted) {
    require_planted_dlls_preferred();
    TempDir dir;
    const auto loader = dir / L"load-by-name.exe";
    std::filesystem::copy_file(build_file(L"load-by-name.exe"), loader);
    plant(dir.path());
    const HelperRun run = run_program(loader.wstring(), L"version.dll");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(markers_in(dir.path()), std::vector<std::wstring>{L"version.dll.loaded"});
}

TEST(DllSafety, PlantedDllsBesideTheHelperOrInItsCurrentDirectoryAreNeverLoaded) {
    if (!build_embeds_development_key()) {
        GTEST_SKIP() << "this build embeds a publisher key; packages signed here with the development key cannot pass";
    }
    TempDir dir;
    const auto beside = dir / L"downloads";
    const auto current = dir / L"current";
    std::filesystem::create_directories(beside);
    std::filesystem::create_directories(current);
    const auto helper = beside / L"vostrane-updater.exe";
    std::filesystem::copy_file(build_file(L"vostrane-updater.exe"), helper);
    plant(beside);
    plant(current);
    require_planted_dlls_preferred();

    // A package refused at its type check, then one that passes every check
    // (OpenSSL's digest and signature code and msi.dll run) and reaches the
    // installer.
    RunFiles refused = files_in(dir);
    refused.msi = dir / L"missing.msi";
    RunFiles verified = files_in(dir);
    verified.log = dir / L"logs\\verified.log";
    verified.result = dir / L"verified.json";
    const FreshProduct installable = installable_package();
    const auto verified_arguments = signed_package(verified, installable.bytes());
    for (const auto& arguments : {arguments_for(refused), verified_arguments}) {
        StartedProgram run(helper.wstring(), join_arguments(arguments), dir / L"standard-error.txt", current);
        (void)run.wait();
    }

    EXPECT_EQ(log_messages(verified.log).at(2), "Starting Windows Installer.") << "the run reached the installer";
    EXPECT_EQ(markers_in(beside), std::vector<std::wstring>{});
    EXPECT_EQ(markers_in(current), std::vector<std::wstring>{});
}

// vostrane-sign.exe restricts no DLL search of its own: msi.dll, which it
// loads to read a package, must still come from the system directory and
// never from beside the tool or the current directory.
TEST(DllSafety, APlantedMsiDllBesideTheSigningToolIsNeverLoaded) {
    require_planted_dlls_preferred();
    TempDir dir;
    const auto tool = dir / L"vostrane-sign.exe";
    std::filesystem::copy_file(build_file(L"vostrane-sign.exe"), tool);
    std::filesystem::copy_file(build_file(L"planted-dll.dll"), dir / L"msi.dll");
    std::filesystem::copy_file(built_package(L"sample-app-2"), dir / L"update.msi");

    StartedProgram check(tool.wstring(), L"check update.msi", dir / L"standard-error.txt", dir.path());
    const HelperRun run = check.wait();
    EXPECT_EQ(run.exit_code, 0u) << "Windows Installer's msi.dll read the package: " << run.standard_error;
    EXPECT_EQ(markers_in(dir.path()), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace vostrane::testing
