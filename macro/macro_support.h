// The "Macro Support" module: the functions that code compiled at run time
// reaches by name (send, instance-variable access, instance creation, symbol
// lookup, collection indexing), each checking its argument list and handing
// the work to the runtime's own primitive. A wrong argument list raises a
// runtime error through PcError (registered as "__PCERROR") and the function
// returns NIL. Nothing in the program calls them directly: AddToProgram
// enters them in the table of functions callable by name. One thread only.
#pragma once

#include <string>

#include "runtime/startup.h"
#include "runtime/value.h"

namespace macro {

// "__PCERROR": raises a "PCEVal" error with the message, the operation name,
// the argument array (NIL for none) and the symbol; returns when the error
// block returns.
void PcError(uint32_t arg_num, const std::string& message, const std::string& operation,
             const rt::Value& args, rt::Symbol symbol);

rt::Value PcSend(rt::Args args);              // "__PCSEND"
rt::Value PcIVarGet(rt::Args args);           // "__PCIVARGET"
rt::Value PcIVarPut(rt::Args args);           // "__PCIVARPUT"
rt::Value PcCreateInstance(rt::Args args);    // "__PCCREATEINSTANCE"
rt::Value PcSymbol(rt::Args args);            // "__PCSYMBOL"
rt::Value PcArrGetCollection(rt::Args args);  // "__PCARRGETCOLLECTION"
rt::Value PcArrPutCollection(rt::Args args);  // "__PCARRPUTCOLLECTION"
rt::Value PcIVaGetCollection(rt::Args args);  // "__PCIVAGETCOLLECTION"
rt::Value PcIVaPutCollection(rt::Args args);  // "__PCIVAPUTCOLLECTION"

void AddToProgram(rt::Program& program);

}  // namespace macro
