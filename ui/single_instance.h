#pragma once
// One running copy per user: two copies would take turns driving the same
// lamp, each sending its own colour every second. The first copy holds a lock
// file in the user's runtime folder and listens on a local channel beside it
// (storage/instance_channel.h); a later start finds the lock, asks the running
// copy to come to the front, hands it the files named on its command line and
// ends. What arrives is handed to the user-interface thread.
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace tintrava {

class InstanceChannel;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum Claim {
        Claimed,        // this is the only copy; it holds the lock and listens
        AlreadyRunning, // another copy of this user runs
        Unavailable,    // the lock cannot be made (folder not writable): run unguarded
    };

    // folder: where lock and socket live; empty for defaultFolder().
    explicit SingleInstance(const QString &folder = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // The user's runtime folder (XDG_RUNTIME_DIR), else a folder of this
    // user's own in the temporary folder.
    static QString defaultFolder();
    QString lockPath() const;
    QString socketPath() const;

    // Takes the lock unless a running copy holds it. A lock left by a copy
    // that crashed is free again; a running copy's lock never is, however old.
    Claim claim();
    // Set before claim(): the channel is open from the claim on, but what
    // later starts send is taken only once startListening() is called (the
    // program does so when its window first paints). Unset, claim() listens
    // at once.
    bool listenLater = false;
    void startListening();
    // What went wrong when claim() gave Unavailable.
    QString errorText() const { return m_errorText; }

    // After AlreadyRunning: asks the running copy to come to the front and
    // hands it the files (absolute paths). False when it did not answer.
    bool handOver(const QStringList &files, int timeoutMs = 5000);

    // The running copy's side, called for every later start.
    std::function<void()> bringToFront;
    // Called for each file a later start named on its command line.
    std::function<void(const QString &path)> openHandedFile;

private:
    void deliver(const QStringList &files);

    QString m_folder;
    std::unique_ptr<InstanceChannel> m_channel;
    QString m_errorText;
};

class Dialogs;

// What a start does first: claims the lock. When another copy runs, it hands
// that copy the files named in arguments and returns false; this start then
// ends. "Tintrava läuft bereits." is shown when there were no files to hand
// over, or the running copy did not take them. A lock that cannot be made is
// put in warning and the start goes on.
bool startOnlyOnce(SingleInstance &instance, Dialogs &dialogs, const QStringList &arguments,
                   const QString &workingDir, QString *warning);

// The files named on a command line (the arguments after the program that are
// not options; everything after "--"), made absolute against workingDir.
QStringList filesFromArguments(const QStringList &arguments, const QString &workingDir);

} // namespace tintrava
