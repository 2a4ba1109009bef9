#pragma once
// Which path Windows Installer is given for the checked package. The package
// is checked through one open handle, but msiexec opens it again by name after
// the wait; a name that goes through a link, a junction or a short name could
// by then lead to another file. The handle's final path cannot.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "interface_texts.hpp"
#include "windows_path.hpp"

namespace vostrane {

// Whether two path texts name the same path, as the file system compares names.
using PathTextsEqual = std::function<bool(std::u16string_view, std::u16string_view)>;

// Whether the final path leads over the network (a share or a redirector),
// where the server need not honour the lock and may serve other bytes.
bool is_network_path(std::u16string_view final_path);

// The package path for the installer's command line: `msi_path` unchanged when
// it already is the final path in full (so an ordinary command line stays as
// it always was), otherwise the final path, in its plain form where that is
// shorter than MAX_PATH and in its extended-length form where it is not.
std::u16string installer_package_path(std::u16string_view msi_path, std::u16string_view final_path,
                                      const PathTextsEqual& same_path_text);

// The path through which msi.dll reads the package, which takes paths shorter
// than MAX_PATH only (Wine's overruns a buffer on longer ones): the installer
// path in its plain form, usable by a call limited to MAX_PATH
// (usable_by_limited_call); nothing when there is no such form.
std::optional<std::u16string> package_reading_path(std::u16string_view installer_path,
                                                   const ShortFormQuery& short_form);

}  // namespace vostrane
