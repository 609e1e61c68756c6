#include "app/SchemeEqList.h"

#include "app/EqPreset.h"

namespace {

ProcessorEqList::Corner processorCorner(const snt::eq::Corner &corner)
{
    if (!eqpreset::deliveredCorner(corner))
        return {};
    return {ProcessorEqList::filterType(corner.kind, corner.order), corner.hz};
}

} // namespace

ProcessorEqList schemeEqList(const QList<snt::eq::SchemeBand> &bands,
                             const snt::eq::Corner &highPass, const snt::eq::Corner &lowPass)
{
    ProcessorEqList list;
    for (const snt::eq::SchemeBand &band : bands) {
        list.bands.append({eqpreset::shortestDecimal(band.freq),
                           eqpreset::shortestDecimal(band.gain), eqpreset::shortestDecimal(band.q),
                           band.enabled});
    }
    list.highPass = processorCorner(highPass);
    list.lowPass = processorCorner(lowPass);
    return list;
}
