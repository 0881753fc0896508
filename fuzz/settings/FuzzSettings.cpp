#include "core/settings/Localer.h"
#include "core/settings/PropertyBailee.h"
#include "core/settings/PropertyFunctions.h"
#include "core/xml/VreltXMLDocument.h"

#include "../../tests/core/settings/FakePublished.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace ludex;

namespace {

// One file for the whole run, removed when the process ends normally.
struct TScratch {
    std::string path = "/tmp/ludex-fuzz-settings-XXXXXX";
    TScratch() {
        const int fd = mkstemp(path.data());
        if (fd >= 0) {
            close(fd);
        }
    }
    ~TScratch() { unlink(path.c_str()); }
};

const std::string& ScratchFile() {
    static const TScratch scratch;
    return scratch.path;
}

} // namespace

// The input is a settings or language file, optionally followed by a zero byte and a path or
// value text. Whatever it holds, loading it onto a window, saving a window through it as a
// stencil, moving the cursor and converting values must end in a result or in one of the
// program's own errors: no crash, no hang, no undefined behaviour.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t zero = input.find('\0');
    const std::string xml = input.substr(0, zero);
    const std::string text = zero == std::string::npos ? std::string() : input.substr(zero + 1);

    {
        std::ofstream out(ScratchFile(), std::ios::binary | std::ios::trunc);
        out << xml;
    }

    ludex::testing::FakeMainWindow window("Form");
    window.Add("Scope").items = TPublishedStringList({"a", "b"});
    TPropertyBailee bailee;
    try {
        bailee.LoadFromFile(ScratchFile());
        bailee.OpenPath("/Form");
        bailee.LoadComponentProperties(window);
    } catch (const Exception&) {
    }
    try {
        bailee.OpenPath(text);
    } catch (const Exception&) {
    }
    try {
        bailee.ForcePath(text);
        bailee.WriteValue(text, xml);
        (void)bailee.CurrentPath();
    } catch (const Exception&) {
    }

    TPropertyBailee saver;
    try {
        saver.Open(ScratchFile() + ".absent", ScratchFile());
        saver.OpenPath("/");
        saver.SaveComponentProperties(window);
        (void)XMLDocumentText(*saver.Root(), TXMLEncoding::Utf8);
    } catch (const Exception&) {
    }

    (void)FormatPlaceholders(text, {xml.substr(0, 16), "{1}", "{{", ""});
    const std::vector<std::string> names = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
    try {
        (void)TextToSet(text, names, "Style");
    } catch (const EConvertError&) {
    }
    try {
        (void)TextToInteger(text, "Width");
    } catch (const EConvertError&) {
    }
    try {
        (void)FloatToText(TextToFloat(text, "Ratio"));
    } catch (const EConvertError&) {
    }
    return 0;
}
