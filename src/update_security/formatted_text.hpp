#pragma once
// Windows Installer's formatted text, evaluated for where its parts can come
// from rather than for one string: the rules about what a package may copy or
// run ask where a path can lead, and a value read from the machine, the
// environment or the command line has no single string to ask about.
//
// The conventions followed are those of the Formatted data type:
//   - [NAME] is the value of a property (or a directory's path); brackets nest
//     and resolve from the inside out, so [[A][B]] is the property whose name
//     is A's value followed by B's;
//   - [\x] is the character x, [~] the NUL character;
//   - [%NAME] an environment variable, [#Key] and [!Key] a file the package
//     installs (long and short path), [$Key] a component's folder;
//   - {...} holding a reference is its text when every property is found and
//     nothing otherwise; without one it stays as it is, braces and all;
//   - a bracket or brace without its pair stays in the text.
// A value is every text it may take: Windows Installer may set a property in
// more than one way (a default, then an action that runs under a condition),
// and the evaluation does not decide conditions.
#include <compare>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vostrane {

// Where a part of a value comes from, as far as the package itself tells.
enum class Origin {
    installed_folder,  // a folder the Directory table installs to
    package_file,      // a file the package installs: [#Key], [!Key]
    system_folder,     // a folder of Windows that only administrators change
    per_user_folder,   // the user's profile, which every program of the user writes
    source_folder,     // the folder the package was started from, or the package file there
    environment,       // [%NAME]
    machine_search,    // what AppSearch or CCPSearch finds on the machine
    unknown,           // anything the package does not pin down
};

// One part of a value: literal text, or a path or text from an origin.
struct Piece {
    std::optional<Origin> origin;  // none: literal text
    std::string text;              // the literal; for an origin, the reference that brought it, "[FROM]"
    std::string set_by;            // for a property set from an origin: what set it, from what

    auto operator<=>(const Piece&) const = default;
};
// One text a value may take, as pieces; literal pieces never stand side by side.
using Alternative = std::vector<Piece>;
using Value = std::set<Alternative>;

// A value that comes from one origin as a whole.
Value value_from(Origin origin, std::string reference = {}, std::string set_by = {});

// What the names in formatted text stand for.
class FormattedNames {
public:
    virtual ~FormattedNames() = default;
    // A property or directory, as [NAME] gives it.
    [[nodiscard]] virtual Value property(std::string_view name) const = 0;
    // A file of the File table, as [#Key] gives it.
    [[nodiscard]] virtual Value file(std::string_view key) const = 0;
    // A component's folder, as [$Key] gives it.
    [[nodiscard]] virtual Value component_folder(std::string_view key) const = 0;
};

// Past this many alternatives a value is taken as unknown: the evaluation
// stays small, and what it cannot follow is refused where it matters.
inline constexpr std::size_t kMostAlternatives = 32;

Value evaluate_formatted(std::string_view text, const FormattedNames& names);

}  // namespace vostrane
