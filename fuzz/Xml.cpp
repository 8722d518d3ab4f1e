// Feeds arbitrary bytes to the settings document: as a whole file, and as a value that
// must come back unchanged after a write and a read.
#include "settings/Xml.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void LoadAnything(const std::string& bytes) {
    CXML document;
    const int result = document.LoadFromText(bytes);
    Check(result == CXML::kOk || result == CXML::kParseFailed);
    // Walk what was built the way the program does.
    if (!document.Name.empty()) {
        const std::string root = document.Name;
        document.CountNodes(root + ".value");
        document.GetValue(root + ".value[last].name");
        document.Exists(root + ".value[1].color7.value");
    }
    document.Serialize(0);
    CXML again;
    again.LoadFromText(document.Text);
}

// A value without surrounding white space or zero bytes is read back exactly as written.
// The reader also steps over 0xFF and 0xFE before text, so those cannot lead a value.
void ValueRoundTrip(std::string_view value) {
    if (value.empty() || value.find('\0') != std::string_view::npos) return;
    const auto first = static_cast<unsigned char>(value.front());
    if (first <= 0x20 || first == 0xFF || first == 0xFE) return;
    if (static_cast<unsigned char>(value.back()) <= 0x20) return;
    CXML document;
    Check(document.SetValue("values.value[0].name", value));
    document.SetIntValue("values.value[0].color0.value", 1);
    document.Serialize(0);
    CXML back;
    Check(back.LoadFromText(document.Text) == CXML::kOk);
    Check(back.GetValue("values.value[0].name") == value);
    Check(back.GetValue("values.value[0].color0.value") == "1");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    LoadAnything(bytes);
    ValueRoundTrip(bytes);
    return 0;
}
