#include "DigestWorker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <pthread.h>

namespace {

// The most bytes waiting in the queue: a few of the largest files a set holds.
constexpr size_t MAX_QUEUED_BYTES = 2 * 1024 * 1024;

struct Job {
    size_t position;
    std::vector<uint8_t> bytes;
};

} // namespace

struct DigestWorker {
    std::vector<FileDigests> digests;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Job> jobs;
    size_t queuedBytes = 0;
    bool ending = false;
    pthread_t thread;
};

namespace {

void* work(void* context) {
    DigestWorker& worker = *static_cast<DigestWorker*>(context);
    // An empty input first: the digest library is loaded while the first files are written.
    Digests unused;
    digestBytes(nullptr, 0, DIGEST_ALL, unused);
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> hold(worker.lock);
            worker.changed.wait(hold, [&] { return worker.ending || !worker.jobs.empty(); });
            if (worker.jobs.empty()) {
                return nullptr; // ending, and nothing left
            }
            job = std::move(worker.jobs.front());
            worker.jobs.pop_front();
        }
        FileDigests& file = worker.digests[job.position];
        file.taken = digestBytes(job.bytes.data(), job.bytes.size(), DIGEST_ALL, file.digests);
        {
            std::lock_guard<std::mutex> hold(worker.lock);
            worker.queuedBytes -= job.bytes.size();
        }
        worker.changed.notify_all();
    }
}

} // namespace

DigestWorker* startDigestWorker(size_t files) {
    DigestWorker* worker = new (std::nothrow) DigestWorker;
    if (worker == nullptr) {
        return nullptr;
    }
    worker->digests.assign(files, FileDigests{false, Digests{}});
    if (pthread_create(&worker->thread, nullptr, work, worker) != 0) {
        delete worker;
        return nullptr;
    }
    return worker;
}

void digestLater(size_t position, const uint8_t* bytes, size_t length, void* context) {
    DigestWorker& worker = *static_cast<DigestWorker*>(context);
    if (position >= worker.digests.size()) {
        return;
    }
    Job job{position, std::vector<uint8_t>(bytes, bytes + length)};
    {
        std::unique_lock<std::mutex> hold(worker.lock);
        worker.changed.wait(hold, [&] {
            return worker.queuedBytes == 0 || worker.queuedBytes + length <= MAX_QUEUED_BYTES;
        });
        worker.queuedBytes += length;
        worker.jobs.push_back(std::move(job));
    }
    worker.changed.notify_all();
}

std::vector<FileDigests> finishDigestWorker(DigestWorker* worker) {
    {
        std::lock_guard<std::mutex> hold(worker->lock);
        worker->ending = true;
    }
    worker->changed.notify_all();
    pthread_join(worker->thread, nullptr);
    std::vector<FileDigests> digests = std::move(worker->digests);
    delete worker;
    return digests;
}
