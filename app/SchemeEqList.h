#pragma once

#include "eq/Records.h"
#include "processor/ProcessorEqList.h"

#include <QList>

// The processor's list of a band list and two corners: each band's numbers as the engineer
// typed them (eqpreset::shortestDecimal), each corner named by the processor's filter types and
// left off where it is not delivered (eqpreset::deliveredCorner).
ProcessorEqList schemeEqList(const QList<snt::eq::SchemeBand> &bands,
                             const snt::eq::Corner &highPass, const snt::eq::Corner &lowPass);
