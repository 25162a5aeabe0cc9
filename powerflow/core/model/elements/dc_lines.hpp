// Dc lines: two-terminal (line-commutated), VSC and multi-terminal. Their converters take part
// in the solution through the adjustments of core/controls (dc_lines, lcc_dc_line, vsc_dc_line).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/model/elements/common.hpp"

namespace gridfold::pf {

// One converter of a two-terminal dc line (rectifier or inverter).
struct DcConverter {
    int bus = 0;                // ac bus of the converter
    int nb = 0;                 // number of bridges in series
    double anmx_deg = 0.0;      // firing (rectifier) or extinction (inverter) angle limits, degrees
    double anmn_deg = 0.0;
    double rc_ohm = 0.0;        // commutating resistance and reactance per bridge, ohms
    double xc_ohm = 0.0;
    double ebas_kv = 0.0;       // primary base ac voltage, kV
    double tr = 1.0;            // transformer ratio
    double tap = 1.0;           // tap setting and its limits and step
    double tmx = 1.5;
    double tmn = 0.51;
    double stp = 0.00625;
    int ic = 0;                 // bus whose voltage controls the tap, 0 = own bus
    int nd = 0;                 // node of that bus (kept, not used)
    int if_bus = 0;             // winding buses of a transformer whose tap controls the converter
    int it_bus = 0;
    std::string id = "1";       // circuit of that transformer
    double xcap_ohm = 0.0;      // commutating capacitor reactance per bridge, ohms
};

struct TwoTerminalDcLine {
    std::string name;           // up to 12 characters, the line's key
    int mdc = 0;                // control mode: 0 blocked, 1 power, 2 current
    double rdc_ohm = 0.0;       // dc line resistance, ohms
    double setvl = 0.0;         // demand: MW (mdc 1) or A (mdc 2); negative = at the inverter
    double vschd_kv = 0.0;      // scheduled compounded dc voltage, kV
    double vcmod_kv = 0.0;      // mode switch voltage, kV
    double rcomp_ohm = 0.0;     // compounding resistance, ohms
    double delti = 0.0;         // margin, per unit of the desired dc power or current
    std::string meter = "I";    // metered end: "I" inverter, "R" rectifier
    double dcvmin_kv = 0.0;     // minimum compounded dc voltage, kV
    int cccitmx = 20;           // iteration limit of the capacitor-commutated solution
    double cccacc = 1.0;        // its acceleration factor
    DcConverter rectifier;
    DcConverter inverter;
};

// Converter buses of the case (not star points), values finite, ratios and taps positive, the
// two converters at different buses, codes in range, circuit identifiers that fit. A line in
// service may not use what the solution does not model: capacitor commutation (XCAP) or a
// converter controlled by an ac transformer (IF, IT), and its margin DELTI is below 1.
int check_two_terminal_dc_line(const Network& net, const TwoTerminalDcLine& line);

// One converter of a VSC dc line.
struct VscConverter {
    int bus = 0;                // ac bus, 0 = converter not used
    int type = 1;               // dc control: 0 out, 1 dc voltage, 2 MW
    int mode = 1;               // ac control: 1 voltage, 2 power factor
    double dcset = 0.0;         // dc setpoint: kV (type 1) or MW (type 2)
    double acset = 1.0;         // ac setpoint: pu voltage (mode 1) or power factor (mode 2)
    double aloss_kw = 0.0;      // loss = aloss + bloss * I, kW and kW/A
    double bloss_kw_per_a = 0.0;
    double minloss_kw = 0.0;
    double smax_mva = 0.0;      // rating, MVA (0 = none)
    double imax_a = 0.0;        // current rating, A (0 = none)
    double pwf = 1.0;           // power weighting factor
    double maxq_mvar = 9999.0;  // reactive limits
    double minq_mvar = -9999.0;
    int vsreg = 0;              // regulated bus, 0 = own bus
    int nreg = 0;               // node of that bus (kept, not used)
    double rmpct = 100.0;       // percent of the regulated bus's reactive power
};

struct VscDcLine {
    std::string name;           // up to 12 characters, the line's key
    int mdc = 1;                // 0 out of service, 1 in service
    double rdc_ohm = 0.0;       // dc line resistance, ohms
    Owners owners{};
    std::array<VscConverter, 2> converters{};
};

// MDC 0 or 1, resistance finite and not negative, owner numbers 0..9999 with finite fractions
// not negative.
int check_vsc_dc_line(const VscDcLine& line);

// Converter `which` (0 or 1) of a VSC dc line as `converter`: buses of the case or 0, codes in
// range, values finite, reactive limits in order, a power factor setpoint within 0 and 1 in
// magnitude, and not both converters setting their power (a line needs one holding the dc
// voltage).
int check_vsc_converter(const Network& net, const VscDcLine& line, int which, const VscConverter& converter);

// Multi-terminal dc line: converters, dc buses and dc links.
struct MtdcConverter {
    int bus = 0;                // ac bus
    int n = 0;                  // bridges in series
    double angmx_deg = 0.0;     // angle limits, degrees
    double angmn_deg = 0.0;
    double rc_ohm = 0.0;        // commutating resistance and reactance, ohms
    double xc_ohm = 0.0;
    double ebas_kv = 0.0;       // primary base ac voltage, kV
    double tr = 1.0;            // transformer ratio
    double tap = 1.0;
    double tpmx = 1.5;
    double tpmn = 0.51;
    double tstp = 0.00625;
    double setvl = 0.0;         // current (A) or power (MW) demand; dc voltage (kV) for the voltage-controlling converter
    double dcpf = 1.0;          // participation factor
    double marg = 0.0;          // rectifier margin, per unit
    int cnvcod = 1;             // dc network number
};
struct MtdcBus {
    int idc = 0;                // dc bus number, 1..NDCBS
    int ib = 0;                 // ac converter bus, 0 = none
    int area = 1;
    int zone = 1;
    std::string name;           // up to 12 characters
    int idc2 = 0;               // second dc bus of the converter, 0 = ground
    double rgrnd_ohm = 0.0;     // resistance to ground, ohms
    int owner = 1;
};
struct MtdcLink {
    int idc = 0;
    int jdc = 0;
    std::string ckt = "1";      // 1 character
    int met = 1;                // metered end: 1 idc, 2 jdc
    double rdc_ohm = 0.0;       // resistance, ohms
    double ldc_mh = 0.0;        // inductance, mH
};
struct MultiTerminalDcLine {
    std::string name;           // up to 12 characters
    int mdc = 0;                // 0 blocked, 1 power, 2 current
    int vconv = 0;              // bus of the converter that controls the dc voltage
    double vcmod_kv = 0.0;      // mode switch voltage, kV
    int vconvn = 0;             // bus of the standby voltage-controlling converter
    std::vector<MtdcConverter> converters;
    std::vector<MtdcBus> dc_buses;
    std::vector<MtdcLink> links;
};

}  // namespace gridfold::pf
