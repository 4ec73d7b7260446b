#include "service/GzipInflate.h"

#include <zlib.h>

InflateResult inflateGzip(const QByteArray& compressed, qsizetype limit)
{
    InflateResult result;
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        result.error = QStringLiteral("The answer could not be decompressed.");
        return result;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = static_cast<uInt>(compressed.size());

    char chunk[64 * 1024];
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
            // Z_BUF_ERROR with no input left means the stream was cut short.
            inflateEnd(&stream);
            result.error = status == Z_BUF_ERROR ? QStringLiteral("The compressed answer was cut short.")
                                                 : QStringLiteral("The compressed answer is damaged.");
            return result;
        }
        const qsizetype produced = qsizetype(sizeof chunk) - stream.avail_out;
        if (result.data.size() + produced > limit) {
            inflateEnd(&stream);
            result.data.clear();
            result.tooLarge = true;
            result.error = QStringLiteral("The answer is too large: more than %1 MiB once decompressed.")
                               .arg(limit / (1024 * 1024));
            return result;
        }
        result.data.append(chunk, produced);
    }
    inflateEnd(&stream);
    result.ok = true;
    return result;
}
