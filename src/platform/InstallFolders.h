#pragma once

#include <QString>

// Where Norvale's files are, found from where the running program lies, so that any prefix works.
// Installed, the programs are in PREFIX/bin and PREFIX/sbin and the read-only files in
// PREFIX/share/norvale; with the prefix /usr the rest follows the FHS (/etc/norvale,
// /var/lib/norvale, /run/norvale), with any other prefix it stays under PREFIX. A program with no
// PREFIX/share/norvale beside it runs in its build tree, where its own folder serves for all.
struct InstallFolders {
    // The system's: a throw-away guard keeps out of them.
    static constexpr char SystemConfig[] = "/etc/norvale";
    static constexpr char SystemState[] = "/var/lib/norvale";
    static constexpr char SystemRun[] = "/run/norvale";

    QString data;   // sounds, icons, palette, help, the sample phonebook
    QString config; // the administrator's dialer.conf
    QString state;  // the guard's nv4.ini, the built-in line's phonebook, the lock records
    QString run;    // guard.sock, line.sock

    // The guard's own root-only files: its lock, its pid, its calls' files, the modem's record.
    QString privateRun() const { return run + QStringLiteral("/private"); }

    // programFolder: the folder of the running program, links resolved.
    static InstallFolders Of(const QString& programFolder);
    // Of the program running now; needs no QCoreApplication.
    static InstallFolders OfThisProgram();
    // Every role in one folder, as in the build tree.
    static InstallFolders InOne(const QString& folder);
    // Whether any of the settings, state and run folders is the system's, however it is named.
    bool sharesSystemFolders() const;
};
