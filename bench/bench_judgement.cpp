// The judgement alone, under each rule, over lists of realistic names of three lengths.
#include "judgement/ItemLine.h"
#include "judgement/Rules.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>

using namespace kurumu::judgement;

namespace {

QList<Item> realisticLines(int count) {
    QRandomGenerator random(1);
    QStringList lines;
    lines.reserve(count);
    const QString folder = QStringLiteral("/home/user/incoming/");
    for (int i = 0; i < count; ++i) {
        const int n = i / 7;
        const int k = i % 7;
        switch (random.bounded(5)) {
            case 0:
                lines.append(QStringLiteral("IMG_%1.jpg").arg(i, 7, 10, QLatin1Char('0')));
                break;
            case 1:
                lines.append(QStringLiteral("Title %1 (%2).mkv").arg(n).arg(k));
                break;
            case 2:
                lines.append(QStringLiteral("[tag%1] name %2.zip").arg(n % 100).arg(i));
                break;
            case 3:
                lines.append(QStringLiteral("Chapter %1 of %2.txt").arg(k).arg(n));
                break;
            default:
                lines.append(QStringLiteral("写真（%1）旅行%2.jpg").arg(k).arg(n));
                break;
        }
    }
    QList<Item> items;
    for (const QString& name : lines) items.append({name, folder});
    sortItems(items);
    return items;
}

double bestMilliseconds(const QList<Item>& lines, const RuleSet& rules) {
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QList<Line> judged = judgeItems(lines, rules);
        best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (judged.size() != lines.size()) std::abort();
    }
    return best;
}

}  // namespace

int main() {
    const std::array<const char*, 5> names{"count 30", "first bracket", "last bracket", "last of", "numbering"};
    std::printf("%-14s %12s %12s %12s %14s\n", "rule", "10,000", "100,000", "1,000,000", "ns/line (1M)");
    const std::array<int, 3> sizes{10000, 100000, 1000000};
    std::array<QList<Item>, 3> lists;
    for (std::size_t s = 0; s < sizes.size(); ++s) lists[s] = realisticLines(sizes[s]);
    for (const Rule rule : kAllRules) {
        std::array<double, 3> ms{};
        for (std::size_t s = 0; s < sizes.size(); ++s) ms[s] = bestMilliseconds(lists[s], RuleSet::only(rule));
        std::printf("%-14s %9.2f ms %9.2f ms %9.2f ms %14.1f\n", names[static_cast<std::size_t>(rule)], ms[0], ms[1],
                    ms[2], ms[2] * 1e6 / sizes[2]);
    }
    return 0;
}
