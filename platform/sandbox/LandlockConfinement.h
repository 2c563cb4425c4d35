#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Confinement of this process by the kernel's Landlock security module: no privileges
// needed, and nothing can lift it again, for this process or any process it starts. Every
// kind of file access that the running kernel can restrict is restricted, except what the
// rules allow; where the kernel restricts TCP (Landlock ABI 4 and later), no TCP connection
// is made and no TCP port bound. Newer kinds of access than this code knows stay allowed:
// the rules are the same on every kernel, only what it enforces of them differs.
namespace LandlockConfinement {

enum class Access
{
    // Read files and list folders.
    Read,
    // The same, and run the programs there.
    ReadExecute,
    // Read and write device files, with their device-specific requests (ioctl).
    Device,
    // Everything a program does in folders of its own: read, write, create and remove files,
    // folders and sockets, rename within them. No programs run from there, no links, pipes
    // or device files made.
    ReadWrite,
    // A folder shared with other programs in which the program keeps a file of its own: read,
    // and create, replace or remove regular files.
    ReplaceFiles,
};

struct Rule
{
    // A folder, with everything below it, or a single file (which takes only the rights
    // that apply to files). A path that does not exist is left out.
    QString path;
    Access access;
};

// The highest Landlock ABI version that the running kernel offers, 0 where it offers none;
// then `problem` says why.
struct Support
{
    int abi = 0;
    QString problem;
};
Support support();

struct Outcome
{
    bool confined = false;
    int abi = 0;
    bool tcpRestricted = false;
    // Why the process is not confined.
    QString problem;
};

// Confines this process to `rules`. The calling thread must be the process's only one:
// Landlock restricts the calling thread and the threads and processes it starts, never
// threads already running, so with a second thread nothing is restricted and `problem`
// says so.
Outcome restrictSelf(const QList<Rule>& rules);

} // namespace LandlockConfinement
