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
}  // namespace

SimFaultPlan SimFaultPlan::Parse(const QString& text, QString* error) {
    SimFaultPlan plan;
    QString problem;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = item.section(QLatin1Char('='), 0, 0).trimmed();
        const std::optional<double> value = seconds(item.section(QLatin1Char('='), 1).trimmed());
        if (!value) {
            problem = QStringLiteral("'%1' needs a number of seconds, 0 or more").arg(item);
            break;
        }
        if (name == QLatin1String("unplug-at")) {
            plan.unplug_at = value;
        } else if (name == QLatin1String("replug-at")) {
            plan.replug_at = value;
        } else if (name == QLatin1String("silent-at")) {
            plan.silent_at = value;
        } else if (name == QLatin1String("stall-at")) {
            plan.stall_at = value;
        } else if (name == QLatin1String("stall-for")) {
            plan.stall_for = *value;
        } else {
            problem = QStringLiteral("unknown fault '%1'").arg(name);
            break;
        }
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
