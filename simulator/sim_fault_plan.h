#pragma once

#include <QString>
#include <optional>

namespace zarv::sim {

// Faults that happen at set times, counted in seconds from the first
// StartTrigger the controller receives, so that a demo, a test and an operator
// rehearsing a fault all cause the same one. From the environment:
//
//   ZARV_SIM_FAULTS=unplug-at=12,replug-at=15,silent-at=40
//
//   unplug-at=S   the bridge is pulled
//   replug-at=S   it comes back (after unplug-at); the controller kept its
//                 trigger and stream going meanwhile, as a real one does
//   silent-at=S   the stream stops until the next StartTrigger
//   stall-at=S    the bridge's reader is held up, as a stopped process is:
//   stall-for=S   for this long (2 s when not given); what the bridge cannot
//                 hold meanwhile is lost
//
// and faults of the flash, whenever the command comes:
//
//   copy-refused    every CopyImageToMainFrame is answered 0xAA and not carried out
//   copy-refused=N  only the first N are
//   misread-once=G  one word of sector G reads wrong, once (any of A to H)
//   copy-partial=GF the first CopyImageToMainFrame is answered as done but
//                   leaves these main sectors (of H, G and F) as they were
struct SimFaultPlan {
    std::optional<double> unplug_at;
    std::optional<double> replug_at;
    std::optional<double> silent_at;
    std::optional<double> stall_at;
    double stall_for = 2.0;
    int copy_refusals = 0;  // -1: every copy
    std::optional<char> misread_once;
    QString copy_partial;  // main sectors the first copy leaves alone

    bool empty() const {
        return !unplug_at && !replug_at && !silent_at && !stall_at && copy_refusals == 0 &&
               !misread_once && copy_partial.isEmpty();
    }

    // The plan a text describes; *error says what is wrong with it, if anything.
    static SimFaultPlan Parse(const QString& text, QString* error);
    // ZARV_SIM_FAULTS; a malformed list is said on standard error and ignored.
    static SimFaultPlan FromEnvironment();
};

}  // namespace zarv::sim
