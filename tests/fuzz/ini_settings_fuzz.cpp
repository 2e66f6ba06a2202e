// SPDX-License-Identifier: MIT
// The settings file: the values read from any text are written back and read again unchanged, a value
// escaped and unescaped is itself, and valid UTF-8 in a stored value never turns into invalid UTF-8.
#include "engine/ini_settings_store.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace bw::engine;
    const std::string text(bw::fuzz::bytesOf(data, size));

    const std::string written = IniSettingsStore::fromText(text).toText();
    BW_FUZZ_CHECK(IniSettingsStore::fromText(written).toText() == written);

    BW_FUZZ_CHECK(unescapeIniValue(escapeIniValue(text)) == text);
    if (bw::fuzz::isValidUtf8(text))
        BW_FUZZ_CHECK(bw::fuzz::isValidUtf8(unescapeIniValue(text)));
    return 0;
}
