#include "winds_form.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "accessible_values.h"
#include "winds/wind_quality.h"
#include "winds_plots.h"

namespace zarv::views {

QString ProfileText(const winds::WindProfile& p) {
    QStringList heights;
    for (std::size_t i = 0; i < p.heights_m.size() && i < p.winds.size(); ++i) {
        const winds::Wind& w = p.winds[i];
        const QString at = QStringLiteral("%1 km").arg(p.heights_m[i] / 1000, 0, 'f', 2);
        if (!w.valid) {
            heights << at + QStringLiteral(" no wind");
            continue;
        }
        const double u = w.uvw[0], v = w.uvw[1];
        // Meteorological direction: where the wind comes from, clockwise from north.
        const double from = std::fmod(std::atan2(-u, -v) * 180 / M_PI + 360, 360);
        const bool suspect =
            i < p.flags.size() && p.flags[i] != static_cast<int>(winds::WindFlag::Good);
        heights << QStringLiteral("%1 %2 m/s from %3 degrees, w %4 m/s%5")
                       .arg(at)
                       .arg(std::hypot(u, v), 0, 'f', 1)
                       .arg(from, 0, 'f', 0)
                       .arg(w.uvw[2], 0, 'f', 2)
                       .arg(suspect ? QStringLiteral(", suspect") : QString());
    }
    return QStringLiteral("%1 UTC: %2")
        .arg(p.middle.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
             heights.join(QStringLiteral("; ")));
}

TWindsForm::TWindsForm(const radar::RadarFeed& feed, const station::TRunConfig& settings,
                       winds::WindFeed::Clock clock, QWidget* parent)
    : QWidget(parent, Qt::Window), radar_feed_(feed), feed_(feed, settings, std::move(clock)) {
    setWindowTitle(QStringLiteral("Winds"));
    NameAsWindow(this);
    setObjectName(QStringLiteral("WindsForm"));
    resize(1000, 520);
    status_label = new QLabel(this);
    NameValueLabel(status_label, QStringLiteral("Winds"));
    profile = new WindProfileWidget(this);
    profile->setAccessibleName(QStringLiteral("Latest wind profile"));
    history = new WindHistoryWidget(this);
    auto* plots = new QHBoxLayout;
    plots->addWidget(profile, 2);
    plots->addWidget(history, 3);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_label);
    layout->addLayout(plots, 1);
    timer_ = new QTimer(this);
    timer_->setInterval(kPollMs);
    connect(timer_, &QTimer::timeout, this, &TWindsForm::poll);
    timer_->start();
    placed_listener_ = feed.addPlacedListener([this] {
        if (feed_.takePlaced()) showProfiles();
    });
    poll();
}

TWindsForm::~TWindsForm() {
    radar_feed_.removePlacedListener(placed_listener_);
}

// Drawn again when a period closed, or when the settings came or went.
void TWindsForm::poll() {
    const bool closed = feed_.poll();
    const bool available = feed_.profiler() != nullptr;
    if (closed || !drawn_ || available != drawn_available_ || feed_.whyNone() != drawn_why_)
        showProfiles();
}

void TWindsForm::finishRun() {
    feed_.finish();
    showProfiles();
}

void TWindsForm::showProfiles() {
    const winds::WindProfiler* profiler = feed_.profiler();
    drawn_ = true;
    drawn_available_ = profiler != nullptr;
    drawn_why_ = feed_.whyNone();
    if (!profiler) {
        status_label->setText(QStringLiteral("No winds: ") + feed_.whyNone());
        profile->show(nullptr);
        history->show({}, kHoursShown);
        return;
    }
    const auto& profiles = profiler->profiles();
    const winds::WindSettings& s = profiler->settings();
    const QString settings = QStringLiteral("consensus over %1 min, window %2 m/s, at least %3 %")
                                 .arg(s.period_s / 60, 0, 'g', 4)
                                 .arg(s.window_m_s, 0, 'g', 3)
                                 .arg(s.min_fraction * 100, 0, 'g', 3);
    if (profiles.empty()) {
        status_label->setText(QStringLiteral("Waiting for the first consensus period to close (") +
                              settings + QLatin1Char(')'));
    } else {
        status_label->setText(
            QStringLiteral("Latest profile: %1 UTC (%2)")
                .arg(profiles.back().middle.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                     settings));
    }
    profile->show(profiles.empty() ? nullptr : &profiles.back());
    // What the profile plot shows, for a screen reader: it changes once a period.
    profile->setAccessibleDescription(profiles.empty() ? QString() : ProfileText(profiles.back()));
    // Two dozen periods, from half an hour up to the six hours of half-hour periods.
    history->show(profiles, std::clamp(24 * s.period_s / 3600, 0.5, kHoursShown));
}

// Escape closes the window, as it closes a dialog.
void TWindsForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace zarv::views
