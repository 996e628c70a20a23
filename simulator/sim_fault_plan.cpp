#include "sim_fault_plan.h"

#include <QStringList>
#include <cmath>
#include <cstdio>

namespace zarv::sim {

namespace {
std::optional<double> seconds(const QString& text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0) return std::nullopt;
    return value;
}
// Why the item is wrong (empty: it is right); nothing when it names no flash fault.
std::optional<QString> flashFault(const QString& name, const QString& value, const QString& item,
                                  SimFaultPlan& plan) {
    if (name == QLatin1String("copy-refused")) {
        bool ok = value.isEmpty();
        plan.copy_refusals = ok ? -1 : value.toInt(&ok);
        if (ok && plan.copy_refusals != 0 && plan.copy_refusals >= -1 &&
            (value.isEmpty() || plan.copy_refusals > 0))
            return QString();
        return QStringLiteral("'%1' needs a number of copies, 1 or more").arg(item);
    }
    if (name == QLatin1String("copy-partial")) {
        const QString letters = value.toUpper();
        bool ok = !letters.isEmpty();
        for (const QChar c : letters)
            ok = ok && QStringLiteral("HGF").contains(c) && letters.count(c) == 1;
        if (!ok) return QStringLiteral("'%1' needs main sectors, of H, G and F").arg(item);
        plan.copy_partial = letters;
        return QString();
    }
    if (name == QLatin1String("misread-once")) {
        const QString letter = value.toUpper();
        if (letter.size() != 1 || letter[0] < QLatin1Char('A') || letter[0] > QLatin1Char('H'))
            return QStringLiteral("'%1' needs a sector, A to H").arg(item);
        plan.misread_once = letter[0].toLatin1();
        return QString();
    }
    return std::nullopt;
}

QString timedFault(const QString& name, const QString& value_text, const QString& item,
                   SimFaultPlan& plan) {
    const std::optional<double> value = seconds(value_text);
    if (!value) return QStringLiteral("'%1' needs a number of seconds, 0 or more").arg(item);
    if (name == QLatin1String("unplug-at"))
        plan.unplug_at = value;
    else if (name == QLatin1String("replug-at"))
        plan.replug_at = value;
    else if (name == QLatin1String("silent-at"))
        plan.silent_at = value;
    else if (name == QLatin1String("stall-at"))
        plan.stall_at = value;
    else if (name == QLatin1String("stall-for"))
        plan.stall_for = *value;
    else
        return QStringLiteral("unknown fault '%1'").arg(name);
    return QString();
}
}  // namespace

SimFaultPlan SimFaultPlan::Parse(const QString& text, QString* error) {
    SimFaultPlan plan;
    QString problem;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = item.section(QLatin1Char('='), 0, 0).trimmed();
        const QString value_text = item.section(QLatin1Char('='), 1).trimmed();
        const std::optional<QString> flash = flashFault(name, value_text, item, plan);
        problem = flash ? *flash : timedFault(name, value_text, item, plan);
        if (!problem.isEmpty()) break;
    }
    if (problem.isEmpty() && plan.replug_at &&
        (!plan.unplug_at || *plan.replug_at <= *plan.unplug_at))
        problem = QStringLiteral("replug-at needs an earlier unplug-at");
    if (error) *error = problem;
    return problem.isEmpty() ? plan : SimFaultPlan{};
}

SimFaultPlan SimFaultPlan::FromEnvironment() {
    const QString text = qEnvironmentVariable("ZARV_SIM_FAULTS");
    if (text.isEmpty()) return {};
    QString error;
    const SimFaultPlan plan = Parse(text, &error);
    if (!error.isEmpty())
        std::fprintf(stderr, "ZARV_SIM_FAULTS ignored: %s\n", error.toLocal8Bit().constData());
    return plan;
}

}  // namespace zarv::sim
