#include "link/failure.h"

#include <cstring>
#include <utility>

namespace queltor {

Failure::Failure(Kind kind, QString what, QString why, QString todo)
    : kind(kind)
    , what(std::move(what))
    , why(std::move(why))
    , todo(std::move(todo))
{
}

QString Failure::text() const
{
    QString sentence = why.isEmpty() ? what : what + QStringLiteral(": ") + why;
    // A clause gets its full stop; a text that ends in its own ("...") keeps it.
    if (!sentence.isEmpty() && !sentence.endsWith(QLatin1Char('.')) && !sentence.endsWith(QChar(0x2026)))
        sentence += QLatin1Char('.');
    if (todo.isEmpty())
        return sentence;
    return sentence.isEmpty() ? todo : sentence + QLatin1Char(' ') + todo;
}

Failed::Failed(Failure failure)
    : m_failure(std::move(failure))
    , m_what(m_failure.text().toUtf8())
{
}

QString asClause(QString text)
{
    if (text.size() > 1 && text.at(0).isUpper() && text.at(1).isLower())
        text[0] = text.at(0).toLower();
    return text;
}

QString errnoClause(int error) { return asClause(QString::fromLocal8Bit(std::strerror(error))); }

} // namespace queltor
