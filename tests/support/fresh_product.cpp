#include "fresh_product.hpp"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>

#include <stdexcept>

#include "helper_process.hpp"

namespace vostrane::testing {
namespace {

std::wstring new_guid() {
    GUID guid{};
    if (FAILED(::CoCreateGuid(&guid))) throw std::runtime_error("CoCreateGuid failed");
    wchar_t text[39] = {};
    ::StringFromGUID2(guid, text, 39);
    return text;
}

void succeeded(UINT result, const char* call) {
    if (result != ERROR_SUCCESS) throw std::runtime_error(std::string(call) + " failed: " + std::to_string(result));
}

// An MSIHANDLE closed when it goes.
struct MsiHandle {
    MSIHANDLE handle = 0;
    MsiHandle() = default;
    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;
    ~MsiHandle() {
        if (handle != 0) ::MsiCloseHandle(handle);
    }
};

// The stand-in installer takes the same lock: one installation at a time.
class InstallerLock {
public:
    InstallerLock() : mutex_(::CreateMutexW(nullptr, FALSE, L"vostrane-stand-in-installer")) {
        ::WaitForSingleObject(mutex_, INFINITE);
    }
    ~InstallerLock() {
        ::ReleaseMutex(mutex_);
        ::CloseHandle(mutex_);
    }
    InstallerLock(const InstallerLock&) = delete;
    InstallerLock& operator=(const InstallerLock&) = delete;

private:
    HANDLE mutex_;
};

}  // namespace

FreshProduct::FreshProduct(const std::filesystem::path& package) : product_code_(new_guid()) {
    TempDir dir;
    const auto copy = dir / L"fresh.msi";
    std::filesystem::copy_file(package, copy);
    {
        MsiHandle database;
        succeeded(::MsiOpenDatabaseW(copy.c_str(), MSIDBOPEN_TRANSACT, &database.handle), "MsiOpenDatabase");
        const std::wstring update =
            L"UPDATE `Property` SET `Value`='" + product_code_ + L"' WHERE `Property`='ProductCode'";
        MsiHandle view;
        succeeded(::MsiDatabaseOpenViewW(database.handle, update.c_str(), &view.handle), "MsiDatabaseOpenView");
        succeeded(::MsiViewExecute(view.handle, 0), "MsiViewExecute");
        MsiHandle summary;
        succeeded(::MsiGetSummaryInformationW(database.handle, nullptr, 1, &summary.handle),
                  "MsiGetSummaryInformation");
        constexpr UINT kPackageCode = 9;  // PID_REVNUMBER
        succeeded(::MsiSummaryInfoSetPropertyW(summary.handle, kPackageCode, VT_LPSTR, 0, nullptr, new_guid().c_str()),
                  "MsiSummaryInfoSetProperty");
        succeeded(::MsiSummaryInfoPersist(summary.handle), "MsiSummaryInfoPersist");
        succeeded(::MsiDatabaseCommit(database.handle), "MsiDatabaseCommit");
    }
    bytes_ = read_file(copy);
}

FreshProduct::~FreshProduct() {
    if (::MsiQueryProductStateW(product_code_.c_str()) == INSTALLSTATE_UNKNOWN) return;
    const InstallerLock one_at_a_time;
    ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    ::MsiConfigureProductW(product_code_.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
}

}  // namespace vostrane::testing
