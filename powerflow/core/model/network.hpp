// Network model of the embedded power-flow engine: the external data of one case.
//
// Data are kept the way the engine API enters them: bus numbers, identifiers, powers in
// MW/Mvar, impedances in per unit on the base their code names, angles in degrees. Nothing
// here is derived or solver-specific; the solver builds its per-unit arrays from these
// containers in one step (dropping what is out of service) and writes back only the bus
// voltages (Bus::vm_pu, Bus::va_deg) and the machine outputs it adjusts.
//
// Elements are never removed from a case, so an index into a container stays valid for the
// life of the case; cross references (disconnection memory, walks) use such indices.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/model/flat_map.hpp"

namespace gridfold::pf {

// Bus numbers a user may give; internal star points of three-winding transformers are
// numbered from kFirstStarPointBus upwards and never appear in a case file.
inline constexpr int kMinBusNumber = 1;
inline constexpr int kMaxBusNumber = 999999;
inline constexpr int kFirstStarPointBus = 1000000;

inline constexpr int kOwnerCount = 4;    // owners per branch, transformer and machine
inline constexpr int kRatingCount = 12;  // rating sets per branch and transformer winding
inline constexpr int kShuntBlockCount = 8;

// Bus type codes (IDE).
enum BusType : int { kLoadBus = 1, kGeneratorBus = 2, kSwingBus = 3, kIsolatedBus = 4 };

// System-wide data.
struct SystemData {
    double sbase_mva = 100.0;         // system base, MVA; per-unit quantities refer to it
    double base_frequency_hz = 60.0;  // nominal frequency, Hz
    int xfrrat = 0;                   // transformer rating units of the file: 0 or less MVA, above 0 current
    int nxfrat = 0;                   // line rating units of the file: 0 or less MVA, above 0 current
    std::string title1;               // two free heading lines kept with the case
    std::string title2;
};

// One owner of an element and the fraction of the element it owns.
struct Ownership {
    int owner = 0;          // owner number, 0 = unused slot
    double fraction = 1.0;  // ownership fraction (the engine does not normalise them)
};
using Owners = std::array<Ownership, kOwnerCount>;
using Ratings = std::array<double, kRatingCount>;  // MVA

struct Bus {
    int number = 0;             // 1..999999, or >= 1000000 for a star point
    std::string name;           // up to 12 characters
    double base_kv = 0.0;       // base voltage, kV (0 = not given)
    int ide = kLoadBus;         // BusType
    int area = 1;
    int zone = 1;
    int owner = 1;
    double vm_pu = 1.0;         // voltage magnitude, per unit of base_kv
    double va_deg = 0.0;        // voltage angle, degrees
    double nvhi_pu = 1.1;       // normal voltage limits, per unit
    double nvlo_pu = 0.9;
    double evhi_pu = 1.1;       // emergency voltage limits, per unit
    double evlo_pu = 0.9;
    bool star_point = false;    // internal star point of a three-winding transformer
};

// Load; powers in MW/Mvar drawn at 1 pu voltage (current and admittance parts scale with
// V and V^2 in the solution).
struct Load {
    int bus = 0;
    std::string id = "1";       // up to 2 characters
    int status = 1;             // 1 in service, 0 out
    int area = 1;
    int zone = 1;
    int owner = 1;
    int scale = 1;              // 1 = scalable, 0 = fixed
    int intrpt = 0;             // 1 = interruptible
    int dgenm = 0;              // distributed generation mode: 0 off, 1 on
    double pl_mw = 0.0;         // constant power
    double ql_mvar = 0.0;
    double ip_mw = 0.0;         // constant current, at 1 pu
    double iq_mvar = 0.0;
    double yp_mw = 0.0;         // constant admittance, at 1 pu
    double yq_mvar = 0.0;       // negative = inductive (a draw of reactive power), as in case files
    std::string loadtype;       // load type label, up to 12 characters (kept for the file)
    double dgenp_mw = 0.0;      // distributed generation, subtracted from the load when dgenm = 1
    double dgenq_mvar = 0.0;
    std::string name;           // up to 40 characters
};

// Fixed shunt; admittance given as MW/Mvar drawn at 1 pu voltage (bl_mvar > 0 = capacitive,
// i.e. reactive power injected).
struct FixedShunt {
    int bus = 0;
    std::string id = "1";
    int status = 1;
    double gl_mw = 0.0;
    double bl_mvar = 0.0;
};

// Plant: the voltage control shared by the machines of one bus.
struct Plant {
    int bus = 0;
    int ireg = 0;               // regulated bus, 0 = the plant's own bus
    int nreg = 0;               // node of the regulated bus (kept, not used)
    double vs_pu = 1.0;         // scheduled voltage at the regulated bus, per unit
    double rmpct = 100.0;       // percent of the reactive power regulating ireg contributed here
};

struct Machine {
    int bus = 0;
    std::string id = "1";
    int status = 1;
    Owners owners{};            // owner 1 defaults to the bus owner
    int wmod = 0;               // 0 conventional; 1-3 renewable reactive control; 4 fixed PF
    int baslod = 0;             // 0 normal, 1 down only, 2 neither, 3 up only
    double pg_mw = 0.0;
    double qg_mvar = 0.0;
    double qt_mvar = 9999.0;    // reactive limits
    double qb_mvar = -9999.0;
    double pt_mw = 9999.0;      // active limits
    double pb_mw = -9999.0;
    double mbase_mva = 100.0;   // machine base
    double zr_pu = 0.0;         // source impedance ZSORCE, per unit on mbase
    double zx_pu = 1.0;
    double rt_pu = 0.0;         // step-up transformer impedance XTRAN, per unit on mbase
    double xt_pu = 0.0;
    double gtap_pu = 1.0;       // step-up transformer ratio
    double wpf = 1.0;           // power factor used by wmod 2 and 3
    std::string name;           // up to 40 characters
};

// Line (non-transformer) branch.
struct Branch {
    int from_bus = 0;
    int to_bus = 0;
    std::string ckt = "1";      // up to 2 characters
    int status = 1;
    int metbus = 0;             // metered end: from_bus or to_bus
    Owners owners{};
    double r_pu = 0.0;          // series impedance, per unit on the system base
    double x_pu = 0.0001;
    double b_pu = 0.0;          // total line charging, per unit
    double gi_pu = 0.0;         // line shunt at the from end, per unit
    double bi_pu = 0.0;
    double gj_pu = 0.0;         // line shunt at the to end, per unit
    double bj_pu = 0.0;
    double length = 0.0;        // in the user's length unit
    Ratings ratings{};
    std::string name;           // up to 40 characters
    // A system switching device (breaker, disconnector) is held as a line of its reactance,
    // without resistance or charging, so that the solution sees the connection it makes.
    int stype = 0;              // 0 a line; switching device type: 1 generic, 2 breaker, 3 disconnector
    int nstat = 1;              // normal service status of a switching device
    bool switching_device() const { return stype != 0; }
};

// Per-winding data of a transformer. A two-winding transformer uses winding 1 fully and
// only windv/nomv of winding 2; winding 3 stays at its defaults.
struct Winding {
    double windv = 1.0;         // ratio: pu (CW 1,3) or kV (CW 2)
    double nomv_kv = 0.0;       // nominal winding voltage, kV (0 = bus base voltage)
    double ang_deg = 0.0;       // phase shift, degrees
    Ratings ratings{};
    int cod = 0;                // control mode: 0 none, +-1 voltage, +-2 reactive, +-3 active,
                                // +-4 dc line, +-5 asymmetric active; negative = not adjusted
    int cont = 0;               // controlled bus (0 = none)
    int node = 0;               // node of the controlled bus (kept, not used)
    double rma = 1.1;           // ratio/angle limits (pu, kV or degrees, by cod and CW)
    double rmi = 0.9;
    double vma = 1.1;           // controlled-quantity band (pu voltage, Mvar or MW, by cod)
    double vmi = 0.9;
    int ntp = 33;               // number of tap positions
    int tab = 0;                // impedance correction table, 0 = none
    double cr_pu = 0.0;         // load drop compensation, per unit
    double cx_pu = 0.0;
    double cnxa_deg = 0.0;      // winding connection angle, degrees
};

// Two- or three-winding transformer (buses[2] == 0 for two windings).
struct Transformer {
    std::array<int, 3> buses{0, 0, 0};  // windings 1, 2, 3
    std::string ckt = "1";
    int status = 1;             // 2 windings: 0/1; 3 windings: 0 out, 1 in, 2 winding 2 out,
                                // 3 winding 3 out, 4 winding 1 out
    int metbus = 0;             // 2 windings: metered end bus; 3 windings: non-metered end bus
    Owners owners{};
    int cw = 1;                 // ratio code: 1 pu of bus base, 2 kV, 3 pu of nomv
    int cz = 1;                 // impedance code: 1 pu on system base, 2 pu on winding base,
                                // 3 load loss W and |Z| pu on winding base
    int cm = 1;                 // magnetising code: 1 pu on system base, 2 no-load loss W and
                                // exciting current pu on winding 1-2 base
    double mag1 = 0.0;          // magnetising admittance G (CM 1, pu) or no-load loss (CM 2, W)
    double mag2 = 0.0;          // B (CM 1, pu) or exciting current (CM 2, pu)
    double r12 = 0.0;           // impedances in the units CZ names
    double x12 = 0.0001;
    double sbase12_mva = 100.0; // winding base MVA of each impedance
    double r23 = 0.0;
    double x23 = 0.0001;
    double sbase23_mva = 100.0;
    double r31 = 0.0;
    double x31 = 0.0001;
    double sbase31_mva = 100.0;
    int zcod = 0;               // 3 windings: 0 impedances as given, 1 corrections on winding
    std::array<Winding, 3> windings{};
    std::string name;           // up to 40 characters
    std::string vecgrp;         // vector group, up to 12 characters
    int star_bus = 0;           // 3 windings: number of the internal star-point bus

    bool three_winding() const { return buses[2] != 0; }
};

// Switched shunt with up to eight blocks of admittance steps.
struct ShuntBlock {
    int n = 0;                  // number of steps
    int s = 1;                  // block status, 1 in service
    double b_mvar = 0.0;        // admittance per step, Mvar at 1 pu (> 0 capacitive)
};

struct SwitchedShunt {
    int bus = 0;
    std::string id = "1";
    int modsw = 1;              // control mode: 0 locked, 1 discrete, 2 continuous, 3-6 remote
    int adjm = 0;               // adjustment: 0 input order, 1 by admittance
    int stat = 1;
    double vswhi = 1.0;         // controlled band: pu voltage, or Mvar/percent by modsw
    double vswlo = 1.0;
    int swreg = 0;              // regulated bus, 0 = own bus
    int nreg = 0;               // node of the regulated bus (kept, not used)
    double rmpct = 100.0;
    std::string rmidnt;         // regulating device name (modsw 4), kept for the file
    double binit_mvar = 0.0;    // present admittance, Mvar at 1 pu
    std::array<ShuntBlock, kShuntBlockCount> blocks{};
    std::string name;           // up to 40 characters
};

struct InductionMachine {
    int bus = 0;
    std::string id = "1";
    int status = 1;
    int scode = 1;              // 1 motor, 2 generator
    int dcode = 2;              // 1 single cage, 2 double cage
    int area = 1;
    int zone = 1;
    int owner = 1;
    int tcode = 1;              // 1 simple torque, 2 WECC torque
    int bcode = 1;              // 1 base is MVA, 2 base is MW
    int pcode = 1;              // 1 pset is mechanical power, 2 electrical power
    double mbase_mva = 100.0;
    double ratekv = 0.0;        // rated voltage, kV (0 = bus base)
    double pset_mw = 0.0;       // scheduled power, MW
    double h = 1.0;             // inertia, s
    double a = 1.0;             // torque-speed coefficients
    double b = 1.0;
    double d = 1.0;
    double e = 1.0;
    double ra = 0.0;            // armature resistance, pu on mbase
    double xa = 0.0;            // armature leakage reactance
    double xm = 2.5;            // magnetising reactance
    double r1 = 999.0;          // first cage; 999 = not present
    double x1 = 999.0;
    double r2 = 999.0;          // second cage; 999 = not present
    double x2 = 999.0;
    double x3 = 0.0;            // third reactance
    double e1 = 1.0;            // saturation curve points (pu voltage, factor)
    double se1 = 0.0;
    double e2 = 1.2;
    double se2 = 0.0;
    double ia1 = 0.0;           // stator currents of the saturation curve
    double ia2 = 0.0;
    double xamult = 1.0;        // multiplier of xa on saturation
    std::string name;           // up to 40 characters
};

// ---- Records that group or describe the network -------------------------------------------

// Area with its interchange schedule.
struct Area {
    int number = 0;             // 1..9999
    int isw = 0;                // area slack bus, 0 = none
    double pdes_mw = 0.0;       // desired net interchange, MW (export positive)
    double ptol_mw = 10.0;      // interchange tolerance band, MW
    std::string name;           // up to 12 characters
};

struct Zone {
    int number = 0;             // 1..9999
    std::string name;           // up to 12 characters
};

struct Owner {
    int number = 0;             // 1..9999
    std::string name;           // up to 12 characters
};

// Scheduled transfer from one area to another.
struct InterAreaTransfer {
    int from_area = 0;
    int to_area = 0;
    std::string id = "1";       // transfer identifier, 1 character
    double ptran_mw = 0.0;      // scheduled transfer, MW (from -> to positive)
};

// Impedance correction table: factors applied to a transformer's impedance as a function of
// its ratio (pu) or phase shift (degrees), by the controlling winding.
struct CorrectionPoint {
    double t = 0.0;             // ratio (pu) or angle (degrees)
    double f_re = 1.0;          // scaling factor, real part
    double f_im = 0.0;          // imaginary part (files before version 34 hold real factors)
};
struct ImpedanceCorrection {
    int number = 0;             // table number, referred to by Winding::tab
    std::vector<CorrectionPoint> points;  // in file order, at most 11 (v33) or 99
};

// Line made of sections between dummy buses; the grouping changes no element.
struct MultiSectionLine {
    int from_bus = 0;
    int to_bus = 0;
    std::string id = "&1";      // grouping identifier, starting with '&'
    int met = 1;                // metered end: 1 from_bus, 2 to_bus
    std::vector<int> dummy_buses;  // up to 9, in order from from_bus
};

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

struct FactsDevice {
    std::string name;           // up to 12 characters, the device's key
    int from_bus = 0;           // sending-end bus
    int to_bus = 0;             // terminal bus of the series element, 0 = shunt only
    int mode = 1;               // 0 out of service, 1 normal, 2 bypassed series, ...8
    double pdes_mw = 0.0;       // desired active power at the sending end, MW
    double qdes_mvar = 0.0;     // desired reactive power at the sending end, Mvar
    double vset_pu = 1.0;       // voltage setpoint at the sending end, pu
    double shmx_mva = 9999.0;   // shunt element rating at 1 pu, MVA
    double trmx_mw = 9999.0;    // bridge active power limit, MW
    double vtmn_pu = 0.9;       // terminal voltage limits, pu
    double vtmx_pu = 1.1;
    double vsmx_pu = 1.0;       // series voltage limit, pu
    double imx_mva = 0.0;       // series current rating, MVA at 1 pu (0 = none)
    double linx_pu = 0.05;      // series reactance when bypassed, pu
    double rmpct = 100.0;
    int owner = 1;
    double set1 = 0.0;          // mode 4 to 8 setpoints (pu or ohms by mode)
    double set2 = 0.0;
    int vsref = 0;              // series voltage reference: 0 modulation, 1 vector
    int fcreg = 0;              // regulated bus, 0 = sending end
    int nreg = 0;               // node of that bus (kept, not used)
    std::string mname;          // IPFC master device name
};

// A text or number exactly as a case file holds it; used for records kept for the file only.
struct RawValue {
    std::string text;
    bool quoted = false;
};
using RawValues = std::vector<RawValue>;

// Generic network element (a device of a user model): held as written.
struct GneDevice {
    std::string name;           // up to 12 characters
    std::string model;          // model name
    std::vector<int> buses;     // terminal buses (NTERM of them)
    int status = 1;
    int owner = 1;
    int nmetr = 1;              // metered terminal
    RawValues reals;            // the model's real, integer and character data
    RawValues integers;
    RawValues chars;
};

// Substation with its nodes, switching devices and equipment terminals (version 34 on).
struct SubstationNode {
    int ni = 0;                 // node number within the substation
    std::string name;
    int bus = 0;                // bus the node belongs to
    int status = 1;
    double vm_pu = 1.0;
    double va_deg = 0.0;
};
struct SubstationTerminal {
    int bus = 0;                // bus of the equipment
    RawValues rest;             // NI, TYPE, ID and the type's fields, as written
};
struct Substation {
    int number = 0;
    std::string name;
    double lati_deg = 0.0;      // latitude and longitude, degrees
    double long_deg = 0.0;
    double srg_ohm = 0.1;       // substation grounding resistance, ohms
    std::vector<SubstationNode> nodes;
    std::vector<RawValues> switching_devices;  // as written
    std::vector<SubstationTerminal> terminals;
};

// External bus number <-> internal index (position in Network::buses).
class BusNumberIndex {
public:
    std::optional<std::size_t> find(int number) const {
        const std::size_t* index = index_of_.find(number);
        if (!index) return std::nullopt;
        return *index;
    }
    bool contains(int number) const { return index_of_.contains(number); }
    std::size_t insert(int number) {
        std::size_t index = number_at_.size();
        index_of_.insert(number, index);
        number_at_.push_back(number);
        return index;
    }
    int number(std::size_t index) const { return number_at_[index]; }
    std::size_t size() const { return number_at_.size(); }
    void clear() {
        index_of_.clear();
        number_at_.clear();
    }

private:
    FlatMap<int, std::size_t, std::hash<int>> index_of_;
    std::vector<int> number_at_;
};

// What dscn switched off, so that recn can switch exactly that back.
struct SwitchedOff {
    enum Kind : int { kBranch, kTransformer };
    Kind kind = kBranch;
    std::size_t index = 0;      // into Network::branches or Network::transformers
    int previous_status = 1;
};

struct DisconnectionMemory {
    std::unordered_map<int, int> previous_ide;  // bus number -> IDE before dscn
    std::vector<SwitchedOff> elements;          // in the order dscn switched them
};

// A whole case. Containers keep insertion order; buses are in Network::buses at the index
// the bus_index gives. Bus 0 never exists.
struct Network {
    SystemData system;
    std::vector<Bus> buses;
    BusNumberIndex bus_index;
    std::vector<Load> loads;
    std::vector<FixedShunt> fixed_shunts;
    std::vector<Plant> plants;
    std::vector<Machine> machines;
    std::vector<Branch> branches;
    std::vector<Transformer> transformers;
    std::vector<SwitchedShunt> switched_shunts;
    std::vector<InductionMachine> induction_machines;
    std::vector<Area> areas;
    std::vector<Zone> zones;
    std::vector<Owner> owners;
    std::vector<InterAreaTransfer> transfers;
    std::vector<ImpedanceCorrection> impedance_corrections;
    std::vector<MultiSectionLine> multi_section_lines;
    std::vector<TwoTerminalDcLine> two_terminal_dc_lines;
    std::vector<VscDcLine> vsc_dc_lines;
    std::vector<MultiTerminalDcLine> multi_terminal_dc_lines;
    std::vector<FactsDevice> facts_devices;
    std::vector<GneDevice> gne_devices;
    std::vector<Substation> substations;
    // System-wide records (solution settings, rating set names) as written, for versions
    // that hold them; the engine keeps its own solution settings.
    std::vector<RawValues> system_wide;
    DisconnectionMemory disconnected;
    // Raised by every change of elements or of their in-service state, so that a solver can
    // keep its symbolic analysis while the structure is unchanged.
    std::uint64_t structure_revision = 0;

    Bus* bus(int number) {
        auto index = bus_index.find(number);
        return index ? &buses[*index] : nullptr;
    }
    const Bus* bus(int number) const {
        auto index = bus_index.find(number);
        return index ? &buses[*index] : nullptr;
    }
};

}  // namespace gridfold::pf
