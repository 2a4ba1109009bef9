// Windows Installer's formatted text, evaluated for where each part may come
// from.
#include <gtest/gtest.h>

#include <map>

#include "update_security/formatted_text.hpp"

namespace vostrane {
namespace {

// Names as a table: a property holds literal text, or comes from an origin;
// anything else is unknown.
class NameTable final : public FormattedNames {
public:
    std::map<std::string, std::string, std::less<>> literals = {
        {"Q", "SourceDir"}, {"A", "Source"}, {"B", "Dir"}, {"P1", "Sou"}, {"P2", "rce"}, {"MID", "rc"}, {"EMPTY", ""}};
    std::map<std::string, Origin, std::less<>> origins = {{"SourceDir", Origin::source_folder},
                                                          {"INSTALLDIR", Origin::installed_folder},
                                                          {"SystemFolder", Origin::system_folder},
                                                          {"TempFolder", Origin::per_user_folder}};

    [[nodiscard]] Value property(std::string_view name) const override {
        if (const auto found = literals.find(name); found != literals.end()) return literal(found->second);
        if (const auto found = origins.find(name); found != origins.end()) return value_from(found->second);
        return value_from(Origin::unknown);
    }
    [[nodiscard]] Value file(std::string_view key) const override {
        return key == "AppExe" ? value_from(Origin::package_file) : Value{Alternative{}};
    }
    [[nodiscard]] Value component_folder(std::string_view key) const override {
        return key == "App" ? property("INSTALLDIR") : Value{Alternative{}};
    }

    static Value literal(const std::string& text) {
        return {text.empty() ? Alternative{} : Alternative{Piece{std::nullopt, text, {}}}};
    }
};

Piece text(std::string literal) { return {std::nullopt, std::move(literal), {}}; }
Piece from(Origin origin, std::string reference) { return {origin, std::move(reference), {}}; }

TEST(FormattedText, EvaluatesAsWindowsInstallerResolvesIt) {
    struct Case {
        std::string formatted;
        Value expected;
    };
    const std::vector<Case> cases = {
        {"plain text", {{text("plain text")}}},
        {"", {{}}},
        {"[INSTALLDIR]app.exe", {{from(Origin::installed_folder, "[INSTALLDIR]"), text("app.exe")}}},
        {"[INSTALLDIR]x;[SourceDir]tool.exe",
         {{from(Origin::installed_folder, "[INSTALLDIR]"), text("x;"), from(Origin::source_folder, "[SourceDir]"),
           text("tool.exe")}}},
        // Escapes are characters, and what they spell is no reference.
        {"[\\S]ourceDir", {{text("SourceDir")}}},
        {"[\\[]SourceDir[\\]]", {{text("[SourceDir]")}}},
        {"[~]", {{text(std::string(1, '\0'))}}},
        // Nested references resolve from the inside out.
        {"[[Q]]", {{from(Origin::source_folder, "[[Q]]")}}},
        {"[[A][B]]\\", {{from(Origin::source_folder, "[[A][B]]"), text("\\")}}},
        {"[[P1][P2][B]]", {{from(Origin::source_folder, "[[P1][P2][B]]")}}},
        {"[[\\S]ou[MID]eD[\\i]r]", {{from(Origin::source_folder, "[[\\S]ou[MID]eD[\\i]r]")}}},
        {"[[\\S]ourceDir]", {{from(Origin::source_folder, "[[\\S]ourceDir]")}}},
        // A name that is not pinned down cannot be known either.
        {"[[%NAME]]", {{from(Origin::unknown, "[[%NAME]]")}}},
        {"[%TEMP]\\planted.exe", {{from(Origin::environment, "[%TEMP]"), text("\\planted.exe")}}},
        {"[#AppExe] /quiet", {{from(Origin::package_file, "[#AppExe]"), text(" /quiet")}}},
        {"[!AppExe]", {{from(Origin::package_file, "[!AppExe]")}}},
        {"[#Missing]x", {{text("x")}}},
        {"[$App]setup.cmd", {{from(Origin::installed_folder, "[$App]"), text("setup.cmd")}}},
        {"\"[SystemFolder]cmd.exe\" /c \"[TempFolder]x.cmd\"",
         {{text("\""), from(Origin::system_folder, "[SystemFolder]"), text("cmd.exe\" /c \""),
           from(Origin::per_user_folder, "[TempFolder]"), text("x.cmd\"")}}},
        {"[UNSET]", {{from(Origin::unknown, "[UNSET]")}}},
        {"[EMPTY]x", {{text("x")}}},
        // Unpaired brackets and braces stay.
        {"[SourceDir", {{text("[SourceDir")}}},
        {"]x[", {{text("]x[")}}},
        {"{x", {{text("{x")}}},
        // A group without a reference stays as it is; one with a reference
        // is its text, or nothing when a property is not found.
        {"{no reference}", {{text("{no reference}")}}},
        {"a{-[SourceDir]-}b",
         {{text("ab")}, {text("a-"), from(Origin::source_folder, "[SourceDir]"), text("-b")}}},
    };
    const NameTable names;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.formatted);
        EXPECT_EQ(evaluate_formatted(c.formatted, names), c.expected);
    }
}

TEST(FormattedText, MoreAlternativesThanFollowedAreUnknown) {
    // Each group doubles the alternatives: 2^6 of them.
    const std::string text = "{[A]}{[B]}{[Q]}{[P1]}{[P2]}{[MID]}";
    const Value value = evaluate_formatted(text, NameTable{});
    EXPECT_EQ(value, value_from(Origin::unknown, text));
}

}  // namespace
}  // namespace vostrane
