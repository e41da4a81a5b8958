#include "chip/BfRtTable.h"

#include <typeinfo>

#include "chip/Devices.h"
#include "chip/SdkCall.h"

namespace chip {

using bfrt::bf_rt_id_t;

namespace {

uint64_t sessOf(bfrt::BfRtSession const& s) {
   return s.sessHandleGet();
}

// Key fields and parameters as numbers for the journal.
struct Args {
   uint64_t key[3] = {};
   uint64_t action = 0;
   uint64_t p[kParams] = {};
};

Args argsOf(ChipKey const* key, ChipData const* data) {
   Args a;
   if (key) {
      for (unsigned i = 0; i < 3; ++i)
         a.key[i] = key->value(i);
   }
   if (data && data->action()) {
      a.action = data->action()->id;
      for (unsigned i = 0; i < kParams; ++i)
         a.p[i] = data->value(i);
   }
   return a;
}

}  // namespace

ChipBfRtTable::ChipBfRtTable(Chip& chip, uint32_t deviceId, Kind kind)
    : chip_(&chip), dev_(deviceId), kind_(kind) {}

std::string_view ChipBfRtTable::name() const {
   return isMatch() ? schema::kTableName : schema::kActionProfileName;
}

int ChipBfRtTable::keyFieldIndex(uint32_t fieldId) const {
   if (!isMatch()) return fieldId == schema::kProfileKey[0].id ? 0 : -1;
   for (unsigned i = 0; i < 3; ++i) {
      if (schema::kMatchKey[i].id != fieldId) continue;
      if (i == schema::kVrfIndex && !chip_->profile().vrfKeyField) return -1;
      return int(i);
   }
   return -1;
}

unsigned ChipBfRtTable::keyFieldBits(unsigned index) const {
   return isMatch() ? schema::kMatchKey[index].bits : schema::kProfileKey[0].bits;
}

ChipBfRtTable::Status ChipBfRtTable::resolve(Target const& target, uint16_t* pipe) const {
   if (target.dev_id < 0 || uint32_t(target.dev_id) != dev_ || attached(dev_) != chip_) {
      return status::kInvalidArg;
   }
   return chip_->targetPipe(target.pipe_id, pipe);
}

ChipBfRtTable::Status ChipBfRtTable::entryPipe(Target const& target, uint16_t* pipe) const {
   return isMatch() ? resolve(target, pipe) : status::kNotSupported;
}

namespace {

// `object` as an `Own` of `table`, or null. Every call checks that its objects are the table's
// own. The classes are final, so the object's own type says it: cheaper than a cast that
// searches the hierarchy, on every field of every read.
template <class Own, class Base>
Own const* ownedBy(ChipBfRtTable const* table, Base const* object) {
   if (!object || typeid(*object) != typeid(Own)) return nullptr;
   auto* own = static_cast<Own const*>(object);
   return own->table() == table ? own : nullptr;
}

}  // namespace

ChipKey const* ChipBfRtTable::ownKey(bfrt::BfRtTableKey const* key) const {
   return ownedBy<ChipKey>(this, key);
}

ChipData const* ChipBfRtTable::ownData(bfrt::BfRtTableData const* data) const {
   return ownedBy<ChipData>(this, data);
}

bool ChipBfRtTable::actionOf(ChipData const& data, ActionRec* act) {
   if (!data.action()) return false;
   act->action = data.action()->action;
   for (unsigned i = 0; i < kParams; ++i)
      act->params[i] = uint32_t(data.value(i));
   return true;
}

ChipBfRtTable::Status ChipBfRtTable::tableTypeGet(Kind* type) const {
   return sdkCall("tableTypeGet", {dev_}, [&] {
      if (!type) return status::kInvalidArg;
      *type = kind_;
      return status::kOk;
   });
}

ChipBfRtTable::Status ChipBfRtTable::keyAllocate(std::unique_ptr<bfrt::BfRtTableKey>* key) const {
   return sdkCall("keyAllocate", {dev_}, [&] {
      if (!key) return status::kInvalidArg;
      *key = std::make_unique<ChipKey>(*this);
      return status::kOk;
   });
}

ChipBfRtTable::Status ChipBfRtTable::dataAllocate(
    std::unique_ptr<bfrt::BfRtTableData>* data) const {
   return sdkCall("dataAllocate", {dev_}, [&] {
      if (!data) return status::kInvalidArg;
      *data = std::make_unique<ChipData>(*this);
      return status::kOk;
   });
}

ChipBfRtTable::Status ChipBfRtTable::keyReset(bfrt::BfRtTableKey* key) const {
   return sdkCall("keyReset", {dev_}, [&] {
      auto* k = const_cast<ChipKey*>(ownKey(key));
      if (!k) return status::kInvalidArg;
      k->clear();
      return status::kOk;
   });
}

ChipBfRtTable::Status ChipBfRtTable::dataReset(bf_rt_id_t actionId,
                                               bfrt::BfRtTableData* data) const {
   return sdkCall("dataReset", {dev_, actionId}, [&] {
      auto* d = const_cast<ChipData*>(ownData(data));
      schema::ActionInfo const* a = schema::actionById(actionId);
      if (!d || !a) return status::kInvalidArg;
      d->reset(a);
      return status::kOk;
   });
}

ChipBfRtTable::Status ChipBfRtTable::dataReset(bfrt::BfRtTableData* data) const {
   return sdkCall("dataReset", {dev_}, [&] {
      auto* d = const_cast<ChipData*>(ownData(data));
      if (!d) return status::kInvalidArg;
      d->reset(nullptr);
      return status::kOk;
   });
}

ChipBfRtTable::Status ChipBfRtTable::attributeAllocate(
    bfrt::TableAttributesType type, std::unique_ptr<bfrt::BfRtTableAttributes>* attr) const {
   return sdkCall("attributeAllocate", {dev_, uint64_t(type)}, [&] {
      if (!isMatch()) return status::kNotSupported;
      if (type != bfrt::TableAttributesType::ENTRY_SCOPE || !attr) return status::kInvalidArg;
      *attr = std::make_unique<ChipAttributes>();
      return status::kOk;
   });
}

ChipBfRtTable::Status ChipBfRtTable::tableAttributesSet(
    Session const& session, Target const& target, bfrt::BfRtTableAttributes const& attr) const {
   auto* a = dynamic_cast<ChipAttributes const*>(&attr);
   uint64_t scope = a ? a->scope() : ChipAttributes::kUnset;
   return sdkCall("tableAttributesSet", {sessOf(session), dev_, target.pipe_id, scope}, [&] {
      if (!isMatch()) return status::kNotSupported;
      if (target.dev_id < 0 || uint32_t(target.dev_id) != dev_ || attached(dev_) != chip_) {
         return status::kInvalidArg;
      }
      // The target names the pipes the scope is meant for: all, or one that exists.
      if (target.pipe_id != kAllPipes && target.pipe_id >= chip_->pipes()) {
         return status::kInvalidArg;
      }
      if (!a || a->scope() == ChipAttributes::kUnset) return status::kInvalidArg;
      return chip_->scopeIs(a->scope());
   });
}

ChipBfRtTable::Status ChipBfRtTable::keyFieldIdGet(std::string const& name, bf_rt_id_t* id) const {
   return sdkCall("keyFieldIdGet", {dev_}, [&] {
      if (!id) return status::kInvalidArg;
      if (isMatch()) {
         for (unsigned i = 0; i < 3; ++i) {
            if (schema::kMatchKey[i].name == name && keyFieldIndex(schema::kMatchKey[i].id) >= 0) {
               *id = schema::kMatchKey[i].id;
               return status::kOk;
            }
         }
      } else if (schema::kProfileKey[0].name == name) {
         *id = schema::kProfileKey[0].id;
         return status::kOk;
      }
      return status::kNotFound;
   });
}

ChipBfRtTable::Status ChipBfRtTable::actionIdGet(std::string const& name, bf_rt_id_t* id) const {
   return sdkCall("actionIdGet", {dev_}, [&] {
      if (!id) return status::kInvalidArg;
      for (auto const& a : schema::kActions) {
         if (a.name == name) {
            *id = a.id;
            return status::kOk;
         }
      }
      return status::kNotFound;
   });
}

ChipBfRtTable::Status ChipBfRtTable::dataFieldIdGet(std::string const& name, bf_rt_id_t actionId,
                                                    bf_rt_id_t* id) const {
   return sdkCall("dataFieldIdGet", {dev_, actionId}, [&] {
      schema::ActionInfo const* a = schema::actionById(actionId);
      if (!id || !a) return status::kInvalidArg;
      for (unsigned i = 0; i < a->params; ++i) {
         if (a->fields[i].name == name) {
            *id = a->fields[i].id;
            return status::kOk;
         }
      }
      return status::kNotFound;
   });
}

ChipBfRtTable::Status ChipBfRtTable::devTargetSet(Target const& target) const {
   return sdkCall("devTargetSet", {dev_, target.pipe_id}, [&] {
      uint16_t pipe;
      Status st = resolve(target, &pipe);
      if (st == status::kOk) devTarget_ = target;
      return st;
   });
}

ChipBfRtTable::Status ChipBfRtTable::tableEntryAdd(Session const& session, Target const& target,
                                                   bfrt::BfRtTableKey const& key,
                                                   bfrt::BfRtTableData const& data,
                                                   uint32_t* entryHandle) const {
   ChipKey const* k = ownKey(&key);
   ChipData const* d = ownData(&data);
   Args a = argsOf(k, d);
   return sdkCall("tableEntryAdd",
                  {sessOf(session), dev_, target.pipe_id, a.key[0], a.key[1], a.key[2], a.action,
                   a.p[0], a.p[1], a.p[2], a.p[3], a.p[4]},
                  [&] {
                     uint16_t pipe;
                     Status st = entryPipe(target, &pipe);
                     if (st != status::kOk) return st;
                     ActionRec act;
                     if (!k || !d || !entryHandle || !actionOf(*d, &act)) {
                        return status::kInvalidArg;
                     }
                     Key chipKey;
                     chipKey.pipe = pipe;
                     chipKey.vrf = uint16_t(k->value(schema::kVrfIndex));
                     chipKey.dip = uint32_t(k->value(1));
                     chipKey.sip = uint32_t(k->value(2));
                     return chip_->entryAdd(chipKey, act, entryHandle);
                  });
}

ChipBfRtTable::Status ChipBfRtTable::tableEntryModByHandle(Session const& session,
                                                           Target const& target, uint64_t flags,
                                                           uint32_t entryHandle,
                                                           bfrt::BfRtTableData const& data) const {
   ChipData const* d = ownData(&data);
   Args a = argsOf(nullptr, d);
   return sdkCall("tableEntryModByHandle",
                  {sessOf(session), dev_, target.pipe_id, flags, entryHandle, a.action, a.p[0],
                   a.p[1], a.p[2], a.p[3], a.p[4]},
                  [&] {
                     uint16_t pipe;
                     Status st = entryPipe(target, &pipe);
                     if (st != status::kOk) return st;
                     ActionRec act;
                     if (!d || !actionOf(*d, &act)) return status::kInvalidArg;
                     return chip_->entryMod(entryHandle, act, pipe);
                  });
}

ChipBfRtTable::Status ChipBfRtTable::tableDefaultEntrySet(Session const& session,
                                                          Target const& target, uint64_t flags,
                                                          bfrt::BfRtTableData const& data,
                                                          uint32_t* entryHandle) const {
   ChipData const* d = ownData(&data);
   Args a = argsOf(nullptr, d);
   return sdkCall("tableDefaultEntrySet",
                  {sessOf(session), dev_, target.pipe_id, flags, a.action, a.p[0], a.p[1], a.p[2],
                   a.p[3], a.p[4]},
                  [&] {
                     uint16_t pipe;
                     Status st = entryPipe(target, &pipe);
                     if (st != status::kOk) return st;
                     ActionRec act;
                     if (!d || !entryHandle || !actionOf(*d, &act)) return status::kInvalidArg;
                     return chip_->defaultSet(pipe, act, entryHandle);
                  });
}

ChipBfRtTable::Status ChipBfRtTable::tableDefaultEntryReset(Session const& session,
                                                            Target const& target) const {
   return sdkCall("tableDefaultEntryReset", {sessOf(session), dev_, target.pipe_id}, [&] {
      uint16_t pipe;
      Status st = entryPipe(target, &pipe);
      return st != status::kOk ? st : chip_->defaultReset(pipe);
   });
}

ChipBfRtTable::Status ChipBfRtTable::tableEntryDelByHandle(Session const& session,
                                                           Target const& target,
                                                           uint32_t const& entryHandle) const {
   return sdkCall("tableEntryDelByHandle", {sessOf(session), dev_, target.pipe_id, entryHandle},
                  [&] {
                     uint16_t pipe;
                     Status st = entryPipe(target, &pipe);
                     return st != status::kOk ? st : chip_->entryDel(entryHandle, pipe);
                  });
}

ChipBfRtTable::Status ChipBfRtTable::tableEntryGet(Session const& session, Target const& target,
                                                   uint64_t const& flags,
                                                   uint32_t const& entryHandle,
                                                   bfrt::BfRtTableKey* key,
                                                   bfrt::BfRtTableData* data) const {
   return sdkCall("tableEntryGet", {sessOf(session), dev_, target.pipe_id, flags, entryHandle},
                  [&] {
                     uint16_t pipe;
                     Status st = entryPipe(target, &pipe);
                     if (st != status::kOk) return st;
                     auto* k = const_cast<ChipKey*>(ownKey(key));
                     auto* d = const_cast<ChipData*>(ownData(data));
                     if (!k || !d) return status::kInvalidArg;
                     EntryView e;
                     st = chip_->entryGet(entryHandle, &e, pipe);
                     if (st != status::kOk) return st;
                     k->clear();
                     if (chip_->profile().vrfKeyField) k->valueIs(schema::kVrfIndex, e.key.vrf);
                     k->valueIs(1, e.key.dip);
                     k->valueIs(2, e.key.sip);
                     schema::ActionInfo const& a = schema::actionOf(e.act.action);
                     d->reset(&a);
                     for (unsigned i = 0; i < a.params; ++i)
                        d->valueIs(i, e.act.params[i]);
                     return status::kOk;
                  });
}

}  // namespace chip
