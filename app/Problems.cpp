#include "Problems.h"

#include "SizeText.h"

#include "util/problem.h"

#include <QCoreApplication>
#include <QLocale>

#include <optional>

namespace {

QString Tr(const char *source)
{
    return QCoreApplication::translate("Problems", source);
}

QString Bytes(std::uint64_t n)
{
    return QLocale().toString(static_cast<qulonglong>(n));
}

QString Size(std::uint64_t n)
{
    return BytesText(static_cast<qint64>(n));
}

} // namespace

QString WordedProblem(const std::string &text)
{
    const std::optional<dz::TProblem> problem = dz::TProblem::Decode(text);
    if (!problem)
        return QString::fromStdString(text);
    const QString name = QString::fromStdString(problem->name);
    const QString from = QString::fromStdString(problem->from);
    const auto &f = problem->figures;
    switch (problem->kind) {
    case dz::TProblemKind::TooBigForProgram:
        return Tr(QT_TRANSLATE_NOOP("Problems", "Файл «%1» не отправлен: его размер %2 байт больше %3 байт, "
                                                "самого большого размера, какой умеет передать программа."))
            .arg(name, Bytes(f[0]), Bytes(f[1]));
    case dz::TProblemKind::TooBigForPeer:
        return Tr(QT_TRANSLATE_NOOP("Problems",
                                    "Файл «%1» не отправлен: его размер %2 байт больше %3 байт, а программа на "
                                    "другом компьютере принимает файлы только до этого размера (она не сообщила, "
                                    "что принимает большие)."))
            .arg(name, Bytes(f[0]), Bytes(f[1]));
    case dz::TProblemKind::MismatchTwice:
        return Tr(QT_TRANSLATE_NOOP("Problems", "Файл «%1» не отправлен: другой компьютер дважды получил его не "
                                                "таким, каким он ушёл (хеш XXH3-128 не совпал)."))
            .arg(name);
    case dz::TProblemKind::NoSpaceThere:
        return Tr(QT_TRANSLATE_NOOP("Problems", "Файл «%1» не отправлен: на другом компьютере он требует %2, а в "
                                                "папке приёма свободно %3 (%4 остаются незанятыми)."))
            .arg(name, Size(f[0]), Size(f[1]), Size(f[2]));
    case dz::TProblemKind::BadName:
        return Tr(QT_TRANSLATE_NOOP("Problems", "Файл от %1 не сохранён: недопустимое имя «%2»."))
            .arg(from, name);
    case dz::TProblemKind::Mismatch:
        return Tr(QT_TRANSLATE_NOOP("Problems",
                                    "Файл от %1 не сохранён: «%2» пришёл не таким, каким ушёл (хеш XXH3-128 не совпал)."))
            .arg(from, name);
    case dz::TProblemKind::NoSpaceHere:
        return Tr(QT_TRANSLATE_NOOP("Problems", "Файл от %1 не сохранён: «%2» требует %3, а в папке приёма "
                                                "свободно %4 (%5 остаются незанятыми)."))
            .arg(from, name, Size(f[0]), Size(f[1]), Size(f[2]));
    }
    return QString::fromStdString(problem->Plain());
}
