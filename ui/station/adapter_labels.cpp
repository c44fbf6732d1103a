#include "ui/station/adapter_labels.h"

#include <utility>

#include "port/adapter_identity.h"
#include "ui/station/tile_model.h"

AdapterLabels::AdapterLabels()
    : AdapterLabels(
          [](const std::string& device) { return adapter_label(adapter_identity(device)); }) {}

AdapterLabels::AdapterLabels(Lookup lookup) : lookup_(std::move(lookup)) {}

const std::string& AdapterLabels::label_of(const PortRun& run) {
    auto known = known_.find(run.device);
    if (known == known_.end() || known->second.started != run.started) {
        known = known_.insert_or_assign(run.device, Known{run.started, lookup_(run.device)}).first;
    }
    return known->second.label;
}
