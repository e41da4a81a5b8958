#pragma once
// The BfRt runtime as the library uses it: table, key, data and attribute objects behind
// abstract interfaces, the session and the device target.
#include <cstdint>
#include <memory>
#include <string>

#include "Pemra/Ptr.h"
#include "Zin/TypeRegistry.h"

namespace bfrt {

using bf_status_t = int32_t;
using bf_rt_id_t = uint32_t;

struct BfRtTarget {
   int32_t dev_id;
   uint32_t pipe_id;  // 0xFFFF: all pipes
};

class BfRtSession {
 public:
   virtual ~BfRtSession() = default;
   virtual uint32_t sessHandleGet() const = 0;
};

enum class TableEntryScope : uint32_t {
   ENTRY_SCOPE_ALL_PIPELINES = 0,
   ENTRY_SCOPE_SINGLE_PIPELINE = 1,
};

enum class TableAttributesType : uint32_t { ENTRY_SCOPE = 0 };

class BfRtTableKey {
 public:
   virtual ~BfRtTableKey() = default;
   virtual bf_status_t setValue(bf_rt_id_t fieldId, uint64_t value) = 0;
   virtual bf_status_t getValue(bf_rt_id_t fieldId, uint64_t* value) const = 0;
};

class BfRtTableData {
 public:
   virtual ~BfRtTableData() = default;
   virtual bf_status_t setValue(bf_rt_id_t fieldId, uint64_t value) = 0;
   virtual bf_status_t getValue(bf_rt_id_t fieldId, uint64_t* value) const = 0;
   virtual bf_status_t actionIdGet(bf_rt_id_t* actionId) const = 0;
};

class BfRtTableAttributes {
 public:
   virtual ~BfRtTableAttributes() = default;
   virtual bf_status_t entryScopeParamsSet(TableEntryScope scope) = 0;
};

class BfRtTable {
 public:
   enum class TableType : uint32_t {
      MATCH_DIRECT = 0,
      MATCH_INDIRECT = 1,
      MATCH_INDIRECT_SELECTOR = 2,
      ACTION_PROFILE = 3,
      SELECTOR = 4,
      COUNTER = 5,
   };

   virtual ~BfRtTable() = default;
   virtual bf_status_t tableTypeGet(TableType* type) const = 0;
   // Replaces and frees whatever object the pointer held.
   virtual bf_status_t keyAllocate(std::unique_ptr<BfRtTableKey>* key) const = 0;
   virtual bf_status_t dataAllocate(std::unique_ptr<BfRtTableData>* data) const = 0;
   virtual bf_status_t keyReset(BfRtTableKey* key) const = 0;
   // Clears the data and binds it to `actionId`.
   virtual bf_status_t dataReset(bf_rt_id_t actionId, BfRtTableData* data) const = 0;
   // Clears the data, bound to no action.
   virtual bf_status_t dataReset(BfRtTableData* data) const = 0;
   virtual bf_status_t attributeAllocate(TableAttributesType type,
                                         std::unique_ptr<BfRtTableAttributes>* attr) const = 0;
   virtual bf_status_t tableAttributesSet(BfRtSession const& session, BfRtTarget const& target,
                                          BfRtTableAttributes const& attr) const = 0;
   // Ids by name, as a client finds them.
   virtual bf_status_t keyFieldIdGet(std::string const& name, bf_rt_id_t* id) const = 0;
   virtual bf_status_t actionIdGet(std::string const& name, bf_rt_id_t* id) const = 0;
   virtual bf_status_t dataFieldIdGet(std::string const& name, bf_rt_id_t actionId,
                                      bf_rt_id_t* id) const = 0;
};

// The agent's table class: entry operations by handle beyond the standard table operations.
class TolvexBfRtTable : public BfRtTable {
 public:
   virtual bf_status_t devTargetSet(BfRtTarget const& target) const = 0;
   virtual bf_status_t tableEntryAdd(BfRtSession const& session, BfRtTarget const& target,
                                     BfRtTableKey const& key, BfRtTableData const& data,
                                     uint32_t* entryHandle) const = 0;
   virtual bf_status_t tableEntryModByHandle(BfRtSession const& session, BfRtTarget const& target,
                                             uint64_t flags, uint32_t entryHandle,
                                             BfRtTableData const& data) const = 0;
   virtual bf_status_t tableDefaultEntrySet(BfRtSession const& session, BfRtTarget const& target,
                                            uint64_t flags, BfRtTableData const& data,
                                            uint32_t* entryHandle) const = 0;
   virtual bf_status_t tableDefaultEntryReset(BfRtSession const& session,
                                              BfRtTarget const& target) const = 0;
   virtual bf_status_t tableEntryDelByHandle(BfRtSession const& session, BfRtTarget const& target,
                                             uint32_t const& entryHandle) const = 0;
   virtual bf_status_t tableEntryGet(BfRtSession const& session, BfRtTarget const& target,
                                     uint64_t const& flags, uint32_t const& entryHandle,
                                     BfRtTableKey* key, BfRtTableData* data) const = 0;
};

// A device's BfRt program information: its tables by name.
class BfRtInfo {
 public:
   virtual ~BfRtInfo() = default;
   virtual bf_status_t bfrtTableFromNameGet(std::string const& name,
                                            TolvexBfRtTable const** table) const = 0;
   // A new session on the device.
   virtual std::shared_ptr<BfRtSession> sessionCreate() const = 0;
};

// The process's BfRt devices. An SDK registers a device's info when it attaches the device.
class BfRtDevMgr {
 public:
   static BfRtDevMgr& getInstance() {
      static BfRtDevMgr mgr;
      return mgr;
   }
   // The info of `devId`, or null when the device offers no BfRt runtime.
   BfRtInfo const* bfRtInfoGet(int32_t devId) const {
      return devId >= 0 && devId < 256 ? info_[devId] : nullptr;
   }
   void bfRtInfoIs(int32_t devId, BfRtInfo const* info) {
      if (devId >= 0 && devId < 256) info_[devId] = info;
   }

 private:
   BfRtInfo const* info_[256] = {};
};

}  // namespace bfrt

namespace BfRt {

using BfRtTablePtr = bfrt::TolvexBfRtTable const*;

// The agent's source of the BfRt session of a table; it keeps the session alive.
class BfRtTableIntf : public Zin::PtrInterface {
 public:
   using Ptr = Pemra::Ptr<BfRtTableIntf>;
   using PtrConst = Pemra::Ptr<BfRtTableIntf const>;

   virtual std::shared_ptr<bfrt::BfRtSession> bfRtSessionGet() const = 0;

   static Zin::TypeDescriptor const& type() {
      static Zin::TypeDescriptor* d = new Zin::TypeDescriptor(
          "BfRt::BfRtTableIntf", Zin::TypeDescriptor::Kind::cls, &Zin::ptrInterfaceType());
      return *d;
   }
   Zin::TypeDescriptor const* fwkType() const override { return &type(); }

 protected:
   ~BfRtTableIntf() override = default;
};

}  // namespace BfRt
