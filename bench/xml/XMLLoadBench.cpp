// Loading settings-style XML into TVreltXMLDocument, beside pugixml parsing the same bytes in the
// same run. Each benchmark reports bytes per second. The load should reach at least a quarter
// of pugixml's throughput at the same size, and the 10 MB load should take at most 11 times the
// 1 MB load. BM_VreltTokenize shows the share of the tokenizer alone.

#include "core/xml/VreltXMLDocument.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <map>
#include <stdexcept>
#include <string>

using namespace ludex;

namespace {

// A settings-like file: windows with their properties, fonts, tool bars and long lists of
// documents, with the odd comment, reference and non-ASCII text.
std::string SettingsXML(size_t size) {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Settings Locale=\"ENG\" "
                       "CodePage=\"windows-1252\">\r\n";
    for (int i = 0; text.size() < size; ++i) {
        const std::string n = std::to_string(i);
        text += "  <Form_" + n + " Left=\"" + std::to_string(i % 1280) + "\" Top=\"" +
                std::to_string(i % 1024) +
                "\" Width=\"800\" Height=\"600\" WindowState=\"wsNormal\" MemoWordWrap=\"True\">\r\n";
        text += "    <!-- window " + n + " -->\r\n";
        text += "    <Font Name=\"Tahoma\" Height=\"-11\" Size=\"8\" Style=\"[fsBold]\" Color=\"-16777208\" "
                "Charset=\"1\"/>\r\n";
        text += "    <Caption>Notes &amp; ideas \xE2\x80\x94 " + n + "</Caption>\r\n";
        text += "    <ToolBar_Main Index=\"0\" Visible=\"True\"/>\r\n";
        text += "    <Documents>\r\n";
        for (int d = 0; d < 4; ++d) {
            text += "      <Document "
                    "FileName=\"/home/user/notes/\xD0\x97\xD0\xB0\xD0\xBC\xD0\xB5\xD1\x82\xD0\xBA\xD0\xB8 " +
                    n + "-" + std::to_string(d) + ".ldx\" Expanded=\"&#x31;\"/>\r\n";
        }
        text += "    </Documents>\r\n  </Form_" + n + ">\r\n";
    }
    return text + "</Settings>\r\n";
}

const std::string& Input(int64_t megabytes) {
    static std::map<int64_t, std::string> inputs;
    auto it = inputs.find(megabytes);
    if (it == inputs.end()) {
        it = inputs.emplace(megabytes, SettingsXML(static_cast<size_t>(megabytes) << 20)).first;
    }
    return it->second;
}

void BM_VreltLoad(benchmark::State& state) {
    const std::string& xml = Input(state.range(0));
    TVreltXMLDocument document(TCodePage::Get("windows-1252"));
    for (auto _ : state) {
        document.LoadFromXML(xml);
        benchmark::DoNotOptimize(document.RootElement());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(xml.size()));
}

// The tokenizer alone, with handlers that do nothing: the share of the load that is scanning.
void BM_VreltTokenize(benchmark::State& state) {
    const std::string& xml = Input(state.range(0));
    size_t events = 0;
    TVreltSAX sax([&](const std::string&, const TAttributes&) { ++events; },
                  [&](const std::string&) { ++events; }, [&](const std::string&) { ++events; },
                  [&](const std::string&) { ++events; }, TCodePage::Get("windows-1252"));
    for (auto _ : state) {
        sax.Parse(xml);
    }
    benchmark::DoNotOptimize(events);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(xml.size()));
}

void BM_PugixmlParse(benchmark::State& state) {
    const std::string& xml = Input(state.range(0));
    for (auto _ : state) {
        pugi::xml_document document;
        pugi::xml_parse_result result =
            document.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_comments);
        if (!result) {
            throw std::runtime_error(result.description());
        }
        benchmark::DoNotOptimize(document.first_child());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(xml.size()));
}

} // namespace

BENCHMARK(BM_VreltLoad)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VreltTokenize)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlParse)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
