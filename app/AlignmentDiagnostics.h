#pragma once

#include <QString>

class SubwooferAlignment;
class SubwooferCrossover;
namespace snt::eq {
struct CrossoverResult;
}

// Two text files that show what the crossover designer and the delay/polarity finder were
// given, for an engineer or developer looking into an odd result. Both live in the data root's
// "临时" folder and are rewritten whole each time; a file that cannot be written is skipped.
// Numbers are written as a text stream writes them (6 significant digits), flags as 1 or 0,
// every line ends with a line feed. Tables list the main curve's points from 15 to 520 Hz with
// the subwoofer's values at the first subwoofer frequency not below the row's.
namespace diagnostics {

QString crossoverFile(); // "<root>/临时/分频诊断.txt"
QString alignmentFile(); // "<root>/临时/对齐诊断.txt"

// The design, the lift and the two curves it was made from.
void writeCrossover(const SubwooferCrossover &crossover);
// The alignment's outcome and the two captures it compared.
void writeAlignment(const snt::eq::CrossoverResult &design, const SubwooferAlignment &alignment);

} // namespace diagnostics
