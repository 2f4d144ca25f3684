#pragma once
// The file systems a drive can be formatted with, one row each: the format
// type the settings keep, the name the format command line and the console
// take, the name messages use, how mkfs makes it, and what the question
// before a format says of it. Every room that names a file system reads it
// from here.
#include <QString>
#include <QStringList>
#include <array>

namespace format {

enum class FileSystem { Fat, Fat32, Ntfs };

struct FileSystemRow {
    FileSystem fileSystem;
    int code;                // the format type the settings keep
    const char* switchName;  // "/fs:fat32" of the format command, "--fs fat32" of the console
    const char* name;        // "FAT32", as messages say it
    const char* mkfsTool;    // the tool that makes it
    const char* mkfsOptions; // its options before the device, blank-separated
    const char* forWindows;  // what the question before a format says it is for; empty: not asked
    int otherCode;           // what a No to that question formats with instead
};

// FAT: the file system was mounted right off the device, so the whole of it
// is the volume: -I lets mkfs.fat take a device without partitions.
inline constexpr std::array<FileSystemRow, 3> kFileSystems{{
    {FileSystem::Fat, 1, "fat", "FAT", "mkfs.fat", "-I", "", 1},
    {FileSystem::Fat32, 2, "fat32", "FAT32", "mkfs.fat", "-F 32 -I", "for Windows 95, 98, 98SE, or ME", 3},
    {FileSystem::Ntfs, 3, "ntfs", "NTFS", "mkfs.ntfs", "--quick --force", "for Windows NT, 2000, XP or 2003", 2},
}};

constexpr const FileSystemRow& fileSystemRow(FileSystem fileSystem)
{
    for (const FileSystemRow& row : kFileSystems)
        if (row.fileSystem == fileSystem)
            return row;
    return kFileSystems.back();
}

// The row of a format type; nullptr for a code that names none.
constexpr const FileSystemRow* findFileSystemOfCode(int code)
{
    for (const FileSystemRow& row : kFileSystems)
        if (row.code == code)
            return &row;
    return nullptr;
}

// The same, NTFS for a code that names none, as the format command line has
// always taken it.
constexpr const FileSystemRow& fileSystemOfCode(int code)
{
    const FileSystemRow* row = findFileSystemOfCode(code);
    return row ? *row : fileSystemRow(FileSystem::Ntfs);
}

// The row a switch name ("fat32", in lower case) names; nullptr for none.
const FileSystemRow* fileSystemOfSwitch(const QString& switchName);
// The switch names in the table's order: "fat", "fat32", "ntfs".
QStringList fileSystemSwitchNames();

} // namespace format
