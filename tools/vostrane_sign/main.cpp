// Entry of vostrane-sign: the arguments as UTF-8, whatever the platform.
#include <cstdio>
#include <string>
#include <vector>

#include "sign_tool.hpp"
#include "unicode.hpp"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        std::u16string_view wide(reinterpret_cast<const char16_t*>(argv[i]));
        auto utf8 = vostrane::utf16_to_utf8(wide);
        if (!utf8) {
            std::fprintf(stderr, "vostrane-sign: argument %d is not valid Unicode text.\n", i);
            return vostrane::sign_tool::kExitUsage;
        }
        arguments.push_back(std::move(*utf8));
    }
    return vostrane::sign_tool::run_sign_tool(arguments);
}
#else
int main(int argc, char** argv) { return vostrane::sign_tool::run_sign_tool({argv + 1, argv + argc}); }
#endif
