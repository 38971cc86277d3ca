// The settings-file reader on arbitrary bytes: any text reads without fault, and a key written
// into it reads back while every other key of every other section reads as before.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 16))
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    lumivex::TIniFile ini("");
    ini.SetText(text);
    // Names taken from the input itself, so that they often exist in it.
    const std::string section(text.substr(0, std::min<std::size_t>(size, 6)));
    const std::string key(text.substr(std::min<std::size_t>(size, 6), 4));
    const std::string before = ini.ReadString("Position", "Left", "ERR");
    const std::string otherBefore = ini.ReadString(section, "Other", "ERR");
    if (ini.WriteString("Position", "Left", "12")) {
        if (ini.ReadString("Position", "Left", "ERR") != "12" ||
            ini.ReadString(section, "Other", "ERR") != otherBefore)
            __builtin_trap();
        lumivex::TIniFile again("");
        again.SetText(ini.Text());
        if (again.ReadString("Position", "Left", "ERR") != "12")
            __builtin_trap();
    }
    if (ini.WriteString(section, key, "v") && ini.ReadString(section, key, "ERR") != "v")
        __builtin_trap();
    (void)before;
    return 0;
}
