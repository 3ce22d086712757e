#pragma once
// A reply's outcome held as data, for the operations that let their caller
// decide whether a failure is fatal (a missing LUN, for one, is an answer).
#include <hostlib/owned_ptr.h>
#include <platform/types.h>

#include <cstdint>
#include <string>

struct kx_elem_rec;

class fapi_error_t {
public:
    virtual ~fapi_error_t() = default;

    // Raises the failure's own message-table error; does nothing for a passed reply.
    virtual void raise() const = 0;

    bool passed() const { return status_ == 1; }
    int32_t status() const { return status_; }
    int32_t error_number() const { return error_number_; }
    const std::u16string& reason_text() const { return reason_; }
    const std::u16string& filer_name() const { return filer_name_; }

protected:
    // Reads status, error number and reason from a `results` element.
    fapi_error_t(const kx_elem_rec* reply, const WCHAR* filer_name);

private:
    int32_t status_ = 0;
    int32_t error_number_ = 0;
    std::u16string reason_;
    std::u16string filer_name_;
};

// 0xC0040307: %1 snapshot, %2 volume, %3 appliance, %4 error number, %5 reason.
class fapi_snapshot_delete_error_t : public fapi_error_t {
public:
    fapi_snapshot_delete_error_t(const kx_elem_rec* reply, const WCHAR* filer_name, const WCHAR* volume,
                                 const WCHAR* snapshot);
    void raise() const override;

private:
    std::u16string volume_;
    std::u16string snapshot_;
};

// 0xC0040398: %1 disk or "every disk", %2 appliance, %3 error number, %4 reason.
class fapi_disk_list_info_error_t : public fapi_error_t {
public:
    fapi_disk_list_info_error_t(const kx_elem_rec* reply, const WCHAR* filer_name, const WCHAR* disk);
    void raise() const override;

private:
    std::u16string disk_;
};

// 0xC004032E: %1 LUN path (empty when the whole appliance was listed),
// %2 appliance, %3 error number, %4 reason.
class fapi_lun_list_info_error_t : public fapi_error_t {
public:
    fapi_lun_list_info_error_t(const kx_elem_rec* reply, const WCHAR* filer_name, const WCHAR* path);
    void raise() const override;

private:
    std::u16string path_;
};
