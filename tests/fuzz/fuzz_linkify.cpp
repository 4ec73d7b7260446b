// Feeds arbitrary text (UTF-8, invalid sequences included) to linkify: it must never crash or hang, it only ever
// adds to the text, so nothing of the input may go missing, and on short texts it gives exactly what the rules
// written as regular expressions give (those are too slow to run on long ones).
#include "tests/support/LinkifyPatterns.h"
#include "updates/Linkify.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString linked = linkify(text);
    if (linked.size() < text.size()) {
        std::abort();
    }
    // Text without any address is left exactly as it is.
    if (!text.contains(QLatin1Char('[')) && !text.contains(QLatin1String("http")) && linked != text) {
        std::abort();
    }
    if (size <= 4096 && linked != linkifyWithPatterns(text)) {
        std::abort();
    }
    return 0;
}
