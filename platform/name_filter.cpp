#include "platform/name_filter.h"

namespace platform {

NameFilter::NameFilter(const QString& patterns) {
  for (const QString& raw : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const QString p = raw.trimmed();
    if (p.isEmpty()) continue;
    if (p == QLatin1String("*") || p == QLatin1String("*.*")) {
      match_all_ = true;
    } else if (p.startsWith(QLatin1String("*.")) && !p.mid(1).contains(QLatin1Char('*')) &&
               !p.contains(QLatin1Char('?')) && !p.contains(QLatin1Char('['))) {
      suffixes_.push_back(p.mid(1));
    } else {
      patterns_.push_back(QRegularExpression(QRegularExpression::wildcardToRegularExpression(p),
                                             QRegularExpression::CaseInsensitiveOption));
    }
  }
}

bool NameFilter::Matches(const QString& name) const {
  if (match_all_) return true;
  for (const QString& suffix : suffixes_)
    if (name.endsWith(suffix, Qt::CaseInsensitive)) return true;
  for (const QRegularExpression& re : patterns_)
    if (re.match(name).hasMatch()) return true;
  return false;
}

}  // namespace platform
