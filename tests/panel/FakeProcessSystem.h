#pragma once

#include "ProcessTable.h"
#include "WindowList.h"
#include "basProcess.h"

#include <QString>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

// Processes, their windows and simulated time in one model, so that the
// passes of CloseProcess run without a display; what each pass did is kept
// in `requests`, `kills` and counters.
class FakeProcessSystem : public proc::ProcessTable, public win::WindowList, public basProcess::Waiting
{
public:
    struct Window
    {
        win::HWND id = 0;
        std::string title;
        bool enabled = true;
        win::HWND popup = 0; // 0: its own last active popup
    };
    struct Process
    {
        proc::DWORD pid = 0;
        std::string name; // may hold a NUL: the entry is cut there
        std::vector<Window> windows; // of the main thread
        std::vector<proc::DWORD> otherThreads;
        bool obeysClose = true; // ends 50 ms after its first request
        bool canOpen = true;
        bool survivesTerminate = false;
        bool survivesTerminalServices = false;
        bool running = true;
        std::int64_t endsAt = -1;
    };
    struct Request
    {
        int pass;
        proc::DWORD pid;
        std::string title;
    };

    std::vector<Process> processes;
    bool snapshotFails = false;
    std::int64_t now = 0;
    int snapshots = 0;
    int yields = 0;
    std::vector<Request> requests;
    std::vector<std::pair<int, proc::DWORD>> kills; // pass, pid
    std::vector<std::pair<int, proc::DWORD>> wtsKills;
    std::vector<proc::DWORD> terminateCodes;
    std::vector<QString> serversAsked;

    Process &add(proc::DWORD pid, const std::string &name = "Tintarel")
    {
        Process p;
        p.pid = pid;
        p.name = name;
        processes.push_back(p);
        return processes.back();
    }
    Process *process(proc::DWORD pid)
    {
        for (Process &p : processes)
            if (p.pid == pid)
                return &p;
        return nullptr;
    }
    bool running(proc::DWORD pid) { return process(pid) && process(pid)->running; }
    std::vector<int> passesRequested(const std::string &title) const
    {
        std::vector<int> passes;
        for (const Request &r : requests)
            if (r.title == title)
                passes.push_back(r.pass);
        return passes;
    }
    int handlesOpen() const { return int(m_snapshots.size() + m_processHandles.size() + m_servers.size()); }

    // Waiting
    std::int64_t elapsedMs() override { return now; }
    void yield() override
    {
        ++yields;
        now += 10;
        for (Process &p : processes)
            if (p.running && p.endsAt >= 0 && now >= p.endsAt)
                p.running = false;
    }

    // ProcessTable
    proc::HANDLE createSnapshot(proc::DWORD, proc::DWORD) override
    {
        ++snapshots;
        if (snapshotFails)
            return proc::INVALID_HANDLE_VALUE;
        Snapshot s;
        for (const Process &p : processes) {
            if (!p.running)
                continue;
            proc::PROCESSENTRY32 e;
            e.dwSize = sizeof e;
            e.th32ProcessID = p.pid;
            std::memcpy(e.szExeFile, p.name.data(), std::min(p.name.size(), sizeof e.szExeFile - 1));
            s.processes.push_back(e);
            std::vector<proc::DWORD> tids = p.otherThreads;
            tids.insert(tids.begin() + long(tids.size() / 2), p.pid);
            for (proc::DWORD tid : tids) {
                proc::THREADENTRY32 t;
                t.dwSize = sizeof t;
                t.th32ThreadID = tid;
                t.th32OwnerProcessID = p.pid;
                s.threads.push_back(t);
            }
        }
        m_snapshots[++m_lastHandle] = s;
        return m_lastHandle;
    }
    bool processFirst(proc::HANDLE h, proc::PROCESSENTRY32 *e) override { return first(h, e, &Snapshot::processes); }
    bool processNext(proc::HANDLE h, proc::PROCESSENTRY32 *e) override { return next(h, e, &Snapshot::processes); }
    bool threadFirst(proc::HANDLE h, proc::THREADENTRY32 *e) override { return first(h, e, &Snapshot::threads); }
    bool threadNext(proc::HANDLE h, proc::THREADENTRY32 *e) override { return next(h, e, &Snapshot::threads); }
    bool closeHandle(proc::HANDLE h) override { return m_snapshots.erase(h) + m_processHandles.erase(h) > 0; }
    proc::HANDLE openProcess(proc::DWORD, bool, proc::DWORD pid) override
    {
        if (!running(pid) || !process(pid)->canOpen)
            return 0;
        m_processHandles[++m_lastHandle] = pid;
        return m_lastHandle;
    }
    bool exitCodeProcess(proc::HANDLE h, proc::DWORD *code) override
    {
        if (!m_processHandles.count(h) || !running(m_processHandles[h]))
            return false;
        *code = proc::STILL_ACTIVE;
        return true;
    }
    bool terminateProcess(proc::HANDLE h, proc::DWORD code) override
    {
        if (!m_processHandles.count(h))
            return false;
        terminateCodes.push_back(code);
        return end(m_processHandles[h]);
    }
    proc::HANDLE wtsOpenServer(const QString &name) override
    {
        serversAsked.push_back(name);
        if (name != basProcess::TerminalServerName())
            return 0;
        m_servers.insert(++m_lastHandle);
        return m_lastHandle;
    }
    bool wtsTerminateProcess(proc::HANDLE server, proc::DWORD pid, proc::DWORD) override
    {
        if (server != 0 && !m_servers.count(server))
            return false;
        wtsKills.emplace_back(basProcess::ClosePass, pid);
        if (!running(pid) || process(pid)->survivesTerminalServices)
            return false;
        process(pid)->running = false;
        return true;
    }
    void wtsCloseServer(proc::HANDLE server) override { m_servers.erase(server); }

    // WindowList
    bool enumThreadWindows(std::uint32_t tid, const win::WNDENUMPROC &proc, win::LPARAM lParam) override
    {
        Process *p = process(tid);
        if (!p || !p->running || p->windows.empty())
            return false;
        const std::vector<Window> windows = p->windows;
        for (const Window &w : windows)
            if (!proc(w.id, lParam))
                break;
        return true;
    }
    int windowTextLength(win::HWND h) override { return window(h) ? int(window(h)->title.size()) : 0; }
    int windowText(win::HWND h, char *buffer, int size) override
    {
        const Window *w = window(h);
        const int n = w ? std::min(int(w->title.size()), size - 1) : 0;
        std::memcpy(buffer, w ? w->title.data() : "", std::size_t(n));
        buffer[n] = '\0';
        return n;
    }
    bool isWindowEnabled(win::HWND h) override { return window(h) && window(h)->enabled; }
    win::HWND lastActivePopup(win::HWND h) override
    {
        return window(h) ? (window(h)->popup ? window(h)->popup : h) : 0;
    }
    bool isWindow(win::HWND h) override { return window(h) != nullptr; }
    bool windowRect(win::HWND h, win::RECT *r) override
    {
        *r = {10, 20, 110, 70};
        return isWindow(h);
    }
    bool setWindowPos(win::HWND h, win::HWND after, int x, int y, int cx, int cy, win::UINT) override
    {
        // The window must keep its place and size.
        if (after != win::HWND_BOTTOM || x != 10 || y != 20 || cx != 100 || cy != 50)
            m_badRestacks.push_back(h);
        return isWindow(h);
    }
    bool postMessage(win::HWND h, win::UINT message, win::WPARAM, win::LPARAM) override
    {
        for (Process &p : processes)
            for (const Window &w : p.windows)
                if (w.id == h && p.running && message == win::WM_CLOSE) {
                    requests.push_back({basProcess::ClosePass, p.pid, w.title});
                    if (p.obeysClose && p.endsAt < 0)
                        p.endsAt = now + 50;
                    return true;
                }
        return false;
    }
    const std::vector<win::HWND> &badRestacks() const { return m_badRestacks; }

private:
    struct Snapshot
    {
        std::vector<proc::PROCESSENTRY32> processes;
        std::vector<proc::THREADENTRY32> threads;
        std::size_t nextProcess = 0, nextThread = 0;
        std::size_t &cursor(std::vector<proc::PROCESSENTRY32> Snapshot::*) { return nextProcess; }
        std::size_t &cursor(std::vector<proc::THREADENTRY32> Snapshot::*) { return nextThread; }
    };
    template<class E>
    bool first(proc::HANDLE h, E *e, std::vector<E> Snapshot::*list)
    {
        if (m_snapshots.count(h))
            m_snapshots[h].cursor(list) = 0;
        return next(h, e, list);
    }
    template<class E>
    bool next(proc::HANDLE h, E *e, std::vector<E> Snapshot::*list)
    {
        if (!m_snapshots.count(h) || e->dwSize != sizeof(E))
            return false;
        Snapshot &s = m_snapshots[h];
        std::size_t &at = s.cursor(list);
        if (at >= (s.*list).size())
            return false;
        *e = (s.*list)[at++];
        return true;
    }
    bool end(proc::DWORD pid)
    {
        kills.emplace_back(basProcess::ClosePass, pid);
        if (!running(pid) || process(pid)->survivesTerminate)
            return false;
        process(pid)->running = false;
        return true;
    }
    const Window *window(win::HWND h)
    {
        for (const Process &p : processes)
            if (p.running)
                for (const Window &w : p.windows)
                    if (w.id == h)
                        return &w;
        return nullptr;
    }

    std::map<proc::HANDLE, Snapshot> m_snapshots;
    std::map<proc::HANDLE, proc::DWORD> m_processHandles;
    std::set<proc::HANDLE> m_servers;
    proc::HANDLE m_lastHandle = 100;
    std::vector<win::HWND> m_badRestacks;
};
