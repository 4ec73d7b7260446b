#pragma once

#include <QByteArray>
#include <QString>

// Inflates a gzip stream (as an answer with Content-Encoding: gzip carries it). The inflated size is capped so that
// a small hostile or broken answer cannot make Kelvo allocate without bound.
struct InflateResult {
    bool ok = false;
    QByteArray data;
    QString error;         // a description a user can read, when !ok
    bool tooLarge = false; // when !ok because the inflated answer passed the limit
};

inline constexpr qsizetype maxInflatedSize = 32 * 1024 * 1024;

InflateResult inflateGzip(const QByteArray& compressed, qsizetype limit = maxInflatedSize);
