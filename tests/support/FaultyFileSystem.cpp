#include "support/FaultyFileSystem.h"

#include <algorithm>
#include <cerrno>

namespace ludex::testing {

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

    TSystemResult SetPermissions(uint32_t permissions) override {
        return owner_.Pass(TFileOperation::SetPermissions, Path(),
                           [&] { return real_->SetPermissions(permissions); });
    }

    TSystemResult Sync() override {
        return owner_.Pass(TFileOperation::SyncFile, Path(), [&] { return real_->Sync(); });
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
                                                 std::unique_ptr<IWritableFile>& file) {
    return Pass(TFileOperation::CreateTemporary, folder, [&] {
        std::unique_ptr<IWritableFile> real;
        const TSystemResult result = real_.CreateTemporary(folder, nameStart, real);
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

} // namespace ludex::testing
