// Element access on arrays and collection objects, as run-time compiled code
// reaches it by name: _ArrayGetCollection, _ArrayPutCollection,
// _IVARGETCOLLECTION, _IVARPUTCOLLECTION, and CreateInstance by symbol.
//
// A collection is any object whose class has the methods ElementGet(i1, ...,
// iN) and ElementPut(value, i1, ..., iN); arrays on the way are indexed by
// position, and a collection reached gets the remaining indices at once. The primitives receive
// their arguments in the order the macro-support functions hand them over:
//   _ArrayGetCollection(container, i2, ..., iN, i1)
//   _ArrayPutCollection(container, value, i2, ..., iN, i1)
//   _IVARGETCOLLECTION(object, symbol, i1, ..., iN)
//   _IVARPUTCOLLECTION(object, symbol, value, i1, ..., iN)
//   CreateInstance(class symbol, constructor arguments...)
#pragma once

#include "runtime/startup.h"
#include "runtime/value.h"

namespace rt {

Value ArrayGetCollection(Args args);
Value ArrayPutCollection(Args args);
Value IVarGetCollection(Args args);
Value IVarPutCollection(Args args);
Value CreateInstanceByName(Args args);

// Enters the five in the table of functions callable by name.
void AddCollectionFunctions(Program& program);

}  // namespace rt
