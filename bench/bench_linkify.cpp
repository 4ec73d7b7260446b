// How long linkify takes on a notice of the largest size Kelvo reads (1 MiB): an ordinary notice (paragraphs with
// addresses, bracketed domains and Markdown links), and lines written to make a backtracking search slow (brackets
// and parentheses that never close). For comparison, the same rules as backtracking regular expressions on 64 KiB of
// inline targets that never close. Prints medians; no assertions.
// Options: --runs N (default 7).

#include "bench/BenchSupport.h"
#include "tests/support/LinkifyPatterns.h"
#include "updates/Linkify.h"

#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <vector>

namespace {

constexpr qsizetype largestNotice = 1024 * 1024; // the update check reads no more than this

QString filled(const QString& piece, qsizetype size)
{
    return piece.repeated(size / piece.size());
}

template <typename Function> bench::Summary time(int runs, const QString& text, Function linkifyFunction)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const auto start = bench::Clock::now();
        const QString linked = linkifyFunction(text);
        times.push_back(bench::msSince(start));
        if (linked.size() < text.size()) {
            std::printf("linkify lost text\n");
        }
    }
    return bench::summarize(times);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = bench::intOption(app.arguments(), QStringLiteral("--runs"), 7);
    bench::printMachine("bench_linkify");

    const QString paragraph = QStringLiteral(
        "Kelvo 2.1 is out. Get it at [example.com/kelvo] or from https://downloads.example.com/kelvo/2.1.tar.gz.\n"
        "Read the [release notes](https://example.com/notes \"notes\") and the [manual][1].\n\n"
        "[1]: https://example.com/manual\n\n");
    const struct {
        const char* name;
        QString piece;
    } cases[] = {
        {"ordinary notice", paragraph},
        {"inline targets that never close, \"[x](\" on one line", QStringLiteral("[x](")},
        {"bracketed domains that never close, \"[ex.com \"", QStringLiteral("[ex.com ")},
        {"link texts that never close, \"[a [b] \"", QStringLiteral("[a [b] ")},
    };
    for (const auto& c : cases) {
        const bench::Summary linear = time(runs, filled(c.piece, largestNotice), linkify);
        std::printf("%s: 1 MiB in %s ms\n", c.name, bench::describe(linear, 2).c_str());
    }
    const bench::Summary patterns =
        time(std::max(1, runs / 3), filled(QStringLiteral("[x]("), largestNotice / 16), linkifyWithPatterns);
    std::printf("the same rules as regular expressions, inline targets that never close, 64 KiB: %s ms\n",
                bench::describe(patterns, 0).c_str());
    return 0;
}
