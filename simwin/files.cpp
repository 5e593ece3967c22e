// Files and folders, case-insensitive like NTFS; drive roots always exist.
#include "simwin/state.h"

namespace simwin {

std::string ParentOf(const std::string& lowerPath)
{
    size_t cut = lowerPath.find_last_of('\\');
    return cut == std::string::npos ? std::string() : lowerPath.substr(0, cut);
}

bool IsDriveRoot(const std::string& lowerPath)
{
    return lowerPath.size() == 2 && lowerPath[1] == ':';
}

bool FolderExists(const std::string& path)
{
    std::string p = Lower(path);
    if (IsDriveRoot(p)) return true;
    auto it = W().files.find(p);
    return it != W().files.end() && it->second.folder;
}

bool FileExists(const std::string& path)
{
    auto it = W().files.find(Lower(path));
    return it != W().files.end() && !it->second.folder;
}

static void Put(const std::string& path, FileEntry entry)
{
    std::string p = Lower(path);
    // Tests lay out whole trees in one call.
    for (std::string parent = ParentOf(p); !parent.empty() && !IsDriveRoot(parent);
         parent = ParentOf(parent)) {
        if (!W().files.count(parent)) {
            W().files[parent].folder = true;
            W().spelling[parent] = path.substr(0, parent.size());
        }
    }
    W().files[p] = std::move(entry);
    W().spelling[p] = path;
}

void AddFolder(const std::string& path)
{
    FileEntry e;
    e.folder = true;
    Put(path, e);
}

void AddFile(const std::string& path, const std::vector<BYTE>& data)
{
    FileEntry e;
    e.data = data;
    Put(path, e);
}

std::vector<std::string> ListPaths()
{
    std::vector<std::string> paths;
    for (const auto& f : W().files) paths.push_back(W().spelling[f.first]);
    return paths;
}

}  // namespace simwin
