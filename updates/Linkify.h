#pragma once

#include <QString>

// Turns the addresses in a notice into Markdown links before it is rendered:
//  1. a bracketed domain name not followed by "(" — "[example.com/app]" — becomes
//  "[example.com/app](https://example.com/app)"
//     (the target keeps the content as it is when it already starts with "http");
//  2. a bare "http://" or "https://" address becomes "[address](address)".
// Links already written in Markdown (inline "[text](target)", "[text][ref]", "[ref]: target" lines and autolinks
// "<https://…>") are left exactly as they are by both rules.
QString linkify(const QString& text);
