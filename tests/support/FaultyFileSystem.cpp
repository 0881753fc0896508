#include "support/FaultyFileSystem.h"

#include <algorithm>
#include <cerrno>

namespace ludex::testing {

const char* OperationName(TFileOperation operation) {
    switch (operation) {
    case TFileOperation::OpenForReading:
        return "OpenForReading";
    case TFileOperation::Read:
        return "Read";
    case TFileOperation::ReadStatus:
        return "ReadStatus";
    case TFileOperation::CreateTemporary:
        return "CreateTemporary";
    case TFileOperation::CreateUnnamed:
        return "CreateUnnamed";
    case TFileOperation::Write:
        return "Write";
    case TFileOperation::SetOwner:
        return "SetOwner";
    case TFileOperation::SetPermissions:
        return "SetPermissions";
    case TFileOperation::SyncFile:
        return "SyncFile";
    case TFileOperation::Link:
        return "Link";
    case TFileOperation::Close:
        return "Close";
    case TFileOperation::SyncFolder:
        return "SyncFolder";
    case TFileOperation::Rename:
        return "Rename";
    case TFileOperation::Remove:
        return "Remove";
    case TFileOperation::Stat:
        return "Stat";
    case TFileOperation::LinkStatus:
        return "LinkStatus";
    case TFileOperation::ReadLink:
        return "ReadLink";
    case TFileOperation::CheckWriteAccess:
        return "CheckWriteAccess";
    case TFileOperation::HardLink:
        return "HardLink";
    case TFileOperation::ListFolder:
        return "ListFolder";
    case TFileOperation::RemoveAbandoned:
        return "RemoveAbandoned";
    }
    return "?";
}

template <typename TCall>
TSystemResult TFaultyFileSystem::Pass(TFileOperation operation, const std::string& path, TCall call) {
    journal_.push_back({operation, path});
    const int n = ++counts_[operation];
    const auto fault = faults_.find({operation, n});
    return fault == faults_.end() ? call() : TSystemResult(fault->second);
}

class TFaultyFileSystem::TReadable final : public IReadableFile {
public:
    TReadable(TFaultyFileSystem& owner, std::unique_ptr<IReadableFile> real)
        : owner_(owner), real_(std::move(real)) {}

    TSystemResult Read(char* buffer, size_t capacity, size_t& received) override {
        received = 0;
        return owner_.Pass(TFileOperation::Read, "", [&] {
            return real_->Read(buffer, std::min(capacity, owner_.largestRead_), received);
        });
    }

    TSystemResult Status(TFileStatus& status) override {
        return owner_.Pass(TFileOperation::ReadStatus, "", [&] { return real_->Status(status); });
    }

private:
    TFaultyFileSystem& owner_;
    std::unique_ptr<IReadableFile> real_;
};

class TFaultyFileSystem::TWritable final : public IWritableFile {
public:
    TWritable(TFaultyFileSystem& owner, std::unique_ptr<IWritableFile> real)
        : owner_(owner), real_(std::move(real)) {}

    const std::string& Path() const override { return real_->Path(); }

    TSystemResult Write(std::string_view bytes, size_t& written) override {
        written = 0;
        return owner_.Pass(TFileOperation::Write, Path(), [&] {
            uint64_t& spaceLeft = owner_.spaceLeft_;
            if (spaceLeft == 0 && !bytes.empty()) {
                return TSystemResult(ENOSPC);
            }
            const uint64_t allowed = std::min<uint64_t>({bytes.size(), spaceLeft, owner_.largestWrite_});
            const TSystemResult result = real_->Write(bytes.substr(0, allowed), written);
            if (spaceLeft != UINT64_MAX) {
                spaceLeft -= written;
            }
            return result;
        });
    }

    TSystemResult SetOwner(uint32_t owner, uint32_t group) override {
        return owner_.Pass(TFileOperation::SetOwner, Path(), [&] { return real_->SetOwner(owner, group); });
    }

    TSystemResult SetPermissions(uint32_t permissions) override {
        return owner_.Pass(TFileOperation::SetPermissions, Path(),
                           [&] { return real_->SetPermissions(permissions); });
    }

    TSystemResult Sync() override {
        return owner_.Pass(TFileOperation::SyncFile, Path(), [&] { return real_->Sync(); });
    }

    TSystemResult Link(const std::string& folder, const std::string& nameStart,
                       const std::string& nameEnd) override {
        return owner_.Pass(TFileOperation::Link, folder,
                           [&] { return real_->Link(folder, nameStart, nameEnd); });
    }

    TSystemResult Close() override {
        bool closed = false;
        const TSystemResult result = owner_.Pass(TFileOperation::Close, Path(), [&] {
            closed = true;
            return real_->Close();
        });
        if (!closed) {
            (void)real_->Close(); // the system's close lets the file go even when it fails
        }
        return result;
    }

private:
    TFaultyFileSystem& owner_;
    std::unique_ptr<IWritableFile> real_;
};

TFaultyFileSystem::TFaultyFileSystem(IFileSystem& real) : real_(real) {}

void TFaultyFileSystem::FailNth(TFileOperation operation, int n, int error) {
    faults_[{operation, Count(operation) + n}] = error;
}

void TFaultyFileSystem::NoSpaceAfter(uint64_t bytes) {
    spaceLeft_ = bytes;
}

void TFaultyFileSystem::LimitWriteSize(size_t bytes) {
    largestWrite_ = std::max<size_t>(bytes, 1);
}

void TFaultyFileSystem::LimitReadSize(size_t bytes) {
    largestRead_ = std::max<size_t>(bytes, 1);
}

int TFaultyFileSystem::Count(TFileOperation operation) const {
    const auto found = counts_.find(operation);
    return found == counts_.end() ? 0 : found->second;
}

TSystemResult TFaultyFileSystem::OpenForReading(const std::string& path,
                                                std::unique_ptr<IReadableFile>& file) {
    return Pass(TFileOperation::OpenForReading, path, [&] {
        std::unique_ptr<IReadableFile> real;
        const TSystemResult result = real_.OpenForReading(path, real);
        if (!result.Failed()) {
            file = std::make_unique<TReadable>(*this, std::move(real));
        }
        return result;
    });
}

TSystemResult TFaultyFileSystem::CreateTemporary(const std::string& folder, const std::string& nameStart,
                                                 const std::string& nameEnd,
                                                 std::unique_ptr<IWritableFile>& file) {
    return Pass(TFileOperation::CreateTemporary, folder, [&] {
        std::unique_ptr<IWritableFile> real;
        const TSystemResult result = real_.CreateTemporary(folder, nameStart, nameEnd, real);
        if (!result.Failed()) {
            file = std::make_unique<TWritable>(*this, std::move(real));
        }
        return result;
    });
}

TSystemResult TFaultyFileSystem::CreateUnnamed(const std::string& folder,
                                               std::unique_ptr<IWritableFile>& file) {
    return Pass(TFileOperation::CreateUnnamed, folder, [&] {
        if (refuseUnnamed_) {
            return TSystemResult(EOPNOTSUPP);
        }
        std::unique_ptr<IWritableFile> real;
        const TSystemResult result = real_.CreateUnnamed(folder, real);
        if (!result.Failed()) {
            file = std::make_unique<TWritable>(*this, std::move(real));
        }
        return result;
    });
}

TSystemResult TFaultyFileSystem::SyncFolder(const std::string& folder) {
    return Pass(TFileOperation::SyncFolder, folder, [&] { return real_.SyncFolder(folder); });
}

TSystemResult TFaultyFileSystem::Rename(const std::string& from, const std::string& to) {
    return Pass(TFileOperation::Rename, from + " -> " + to, [&] { return real_.Rename(from, to); });
}

TSystemResult TFaultyFileSystem::Remove(const std::string& path) {
    return Pass(TFileOperation::Remove, path, [&] { return real_.Remove(path); });
}

TSystemResult TFaultyFileSystem::Stat(const std::string& path, TFileStatus& status) {
    return Pass(TFileOperation::Stat, path, [&] { return real_.Stat(path, status); });
}

TSystemResult TFaultyFileSystem::LinkStatus(const std::string& path, TFileStatus& status) {
    return Pass(TFileOperation::LinkStatus, path, [&] { return real_.LinkStatus(path, status); });
}

TSystemResult TFaultyFileSystem::ReadLink(const std::string& path, std::string& target) {
    return Pass(TFileOperation::ReadLink, path, [&] { return real_.ReadLink(path, target); });
}

TSystemResult TFaultyFileSystem::CheckWriteAccess(const std::string& path) {
    return Pass(TFileOperation::CheckWriteAccess, path, [&] { return real_.CheckWriteAccess(path); });
}

TSystemResult TFaultyFileSystem::HardLink(const std::string& existing, const std::string& link) {
    return Pass(TFileOperation::HardLink, existing + " -> " + link,
                [&] { return refuseHardLinks_ ? TSystemResult(EPERM) : real_.HardLink(existing, link); });
}

TSystemResult TFaultyFileSystem::ListFolder(const std::string& folder, std::vector<std::string>& names) {
    return Pass(TFileOperation::ListFolder, folder, [&] { return real_.ListFolder(folder, names); });
}

TSystemResult TFaultyFileSystem::RemoveAbandoned(const std::string& path) {
    return Pass(TFileOperation::RemoveAbandoned, path, [&] { return real_.RemoveAbandoned(path); });
}

} // namespace ludex::testing
