#include "link/failure.h"

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

} // namespace queltor
