#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// A server's sign of life for its clients: the file Data/service/alive/<id>,
// one text line
//   qor-refserver <id> <pid> <unix seconds> idle
//   qor-refserver <id> <pid> <unix seconds> busy <job file name>
// Clients judge a server by the file's modification time alone; the line is
// for people. Every write goes to a hidden name first and is renamed over the
// file, so a reader finds the line whole; it is not synced, being no record.
//
// While Keep is on, a thread of its own rewrites the file every kPeriodSeconds,
// so that it stays fresh while a job takes minutes. A write that fails never
// stops the server: its reason waits for the owner in TakeFailure.
class Heartbeat {
public:
    static constexpr int kPeriodSeconds = 2;

    // folder: Data/service/alive, made when it is missing.
    Heartbeat(std::string folder, std::string id);
    ~Heartbeat(); // stops the thread; the file stays
    Heartbeat(const Heartbeat&) = delete;
    Heartbeat& operator=(const Heartbeat&) = delete;

    // Writes the file now: busy with the job, or idle for an empty name.
    void Set(const std::string& job);
    // Writes the file now, in the state it was given last.
    void Beat();
    // Starts the thread (once); Stop ends it.
    void Keep();
    void Stop();
    // Stops the thread and removes the file.
    void Remove();

    // The reason of a failed write, the first since the last write that
    // worked, given once; empty when there is nothing new.
    std::string TakeFailure();

    const std::string& Path() const { return path; }

private:
    void WriteLocked();
    void Loop();

    std::string folder;
    std::string id;
    std::string path;
    std::string hidden;
    std::mutex mutex; // guards what follows, and the writes
    std::string job;
    std::string failure;
    bool failing = false;
    bool quit = false;
    bool cannotKeep = false; // the thread could not be started
    std::condition_variable wake;
    std::thread thread;
};
