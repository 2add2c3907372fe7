#include "ui/work/work_reporter.h"

#include <utility>

namespace zb::ui {

WorkReporter::WorkReporter(Sink sink, QObject* parent) : QObject(parent), sink_(std::move(sink)) {}

WorkReporter::~WorkReporter() {
    Free(newest_.exchange(nullptr));
}

void WorkReporter::Free(Node* list) {
    while (list != nullptr) delete std::exchange(list, list->next);
}

void WorkReporter::Push(StatusUpdate update) {
    Node* node = new Node{std::move(update), newest_.load()};
    while (!newest_.compare_exchange_weak(node->next, node)) {
    }
    // A report pushed after Deliver took the list finds the flag cleared and posts anew.
    if (!delivery_posted_.exchange(true))
        QMetaObject::invokeMethod(this, &WorkReporter::Deliver, Qt::QueuedConnection);
}

void WorkReporter::Deliver() {
    delivery_posted_.store(false);
    Node* list = newest_.exchange(nullptr);
    if (list == nullptr) return;
    std::size_t count = 0;
    for (const Node* n = list; n != nullptr; n = n->next) ++count;
    std::vector<StatusUpdate> batch(count);
    for (Node* n = list; n != nullptr; n = n->next) batch[--count] = std::move(n->update);
    Free(list);
    sink_(batch);
}

void WorkReporter::JobStarted(const std::vector<std::int32_t>& coms) {
    StatusUpdate u;
    u.kind = StatusUpdate::Kind::Started;
    u.coms = coms;
    Push(std::move(u));
}

void WorkReporter::SetPortMessage(std::int32_t com, std::string_view text) {
    StatusUpdate u;
    u.kind = StatusUpdate::Kind::Message;
    u.com = com;
    u.text = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    Push(std::move(u));
}

void WorkReporter::SetPortProgress(std::int32_t com, std::uint64_t done, std::uint64_t total) {
    StatusUpdate u;
    u.kind = StatusUpdate::Kind::Progress;
    u.com = com;
    u.text = FileSizeText(done, total);
    Push(std::move(u));
}

void WorkReporter::SetProgressBar(std::int32_t com, const zb::ProgressBarState& state) {
    StatusUpdate u;
    u.kind = StatusUpdate::Kind::Bar;
    u.com = com;
    u.bar = state;
    Push(std::move(u));
}

void WorkReporter::SetPortFailed(std::int32_t com) {
    StatusUpdate u;
    u.kind = StatusUpdate::Kind::Failed;
    u.com = com;
    Push(std::move(u));
}

void WorkReporter::SetJobMode(zb::JobMode mode) {
    StatusUpdate u;
    u.kind = StatusUpdate::Kind::Mode;
    u.mode = mode;
    Push(std::move(u));
}

void WorkReporter::JobFinished() {
    StatusUpdate u;
    u.kind = StatusUpdate::Kind::Finished;
    Push(std::move(u));
}

}  // namespace zb::ui
