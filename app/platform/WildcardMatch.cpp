#include "WildcardMatch.h"

#include <QChar>
#include <QList>

namespace platform {

namespace {

QList<uint> folded(QStringView text)
{
    QList<uint> out = text.toUcs4();
    for (uint &c : out)
        c = QChar::toCaseFolded(c);
    return out;
}

}  // namespace

bool pathMatchSpec(QStringView name, QStringView pattern)
{
    while (!pattern.isEmpty() && pattern.front() == u' ')
        pattern = pattern.mid(1);
    if (pattern == u"*.*")
        return true;

    const QList<uint> n = folded(name);
    const QList<uint> p = folded(pattern);
    // Greedy scan that remembers only the last star: on a mismatch the star takes one more
    // character and the scan resumes after it. Earlier stars never need revisiting, because the
    // last star can absorb anything they could.
    qsizetype ni = 0;
    qsizetype pi = 0;
    qsizetype starP = -1;
    qsizetype starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && p[pi] == U'*') {
            starP = pi++;
            starN = ni;
        } else if (pi < p.size() && (p[pi] == U'?' || p[pi] == n[ni])) {
            ++ni;
            ++pi;
        } else if (starP >= 0) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == U'*')
        ++pi;
    return pi == p.size();
}

}  // namespace platform
