#pragma once

#include "GB_Detail.h"

class HOST_API GU_Detail : public GB_Detail {
  public:
    using GB_Detail::GB_Detail;
};
