// Feeds arbitrary bytes to every answer decoder: each must return a record or a description, never crash, leak or
// hang, and a failure always says what went wrong.
#include "model/Decoding.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));

    const auto list = decodeDeviceListResponse(body);
    if (!list.ok() && list.error().isEmpty()) {
        std::abort(); // a failure users would see without any description
    }

    const auto state = decodeACStateResponse(body);
    if (!state.ok() && state.error().isEmpty()) {
        std::abort();
    }

    const auto details = decodeDeviceDetailsResponse(body);
    if (!details.ok() && details.error().isEmpty()) {
        std::abort();
    }

    const auto history = decodeHistoryResponse(body);
    if (!history.ok() && history.error().isEmpty()) {
        std::abort();
    }
    return 0;
}
