// Arbitrary argument texts through the command-line reading and the path
// helpers: no crash, and the invariants the rest of the program relies on.
#include "driver/command_line.h"
#include "select/path.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool IsPrefix(const std::string& prefix, const std::string& text) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    // Normalising only turns some spaces into commas.
    const std::string normalised = kelzar::NormaliseCommandLine(text);
    Check(normalised.size() == text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        Check(normalised[i] == text[i] || (text[i] == ' ' && normalised[i] == ','));
    }

    kelzar::Request request = kelzar::ParseRequest(kelzar::TakeArgumentText(text));
    if (request.action == kelzar::Request::Action::ZipFlat ||
        request.action == kelzar::Request::Action::ZipWithPaths) {
        Check(!request.zipfilePath.empty() && !request.filesToZip.empty());
    }
    (void)kelzar::FlagAsksForPaths(text);

    Check(IsPrefix(kelzar::GetDirectoryPart(text), text));
    Check(IsPrefix(kelzar::GetListingFolder(text), text));
    const std::string name = kelzar::GetFileNamePart(text);
    Check(text.size() >= name.size() &&
          text.compare(text.size() - name.size(), name.size(), name) == 0);
    Check(IsPrefix(kelzar::GetBaseName(text), name));
    Check(kelzar::GetExtension(text).size() <= name.size());
    const std::string stored = kelzar::EntryNameOfPath(text);
    Check(stored.empty() || stored.front() != '\\');
    Check(("\\" + stored + "\\").find("\\..\\") == std::string::npos);
    Check(("\\" + stored + "\\").find("\\.\\") == std::string::npos);
    (void)kelzar::FormatSizeField(size * 0x9E3779B97F4A7C15ull);
    return 0;
}
