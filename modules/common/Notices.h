// The licence texts the modules' notices quote.
#pragma once

#define FENNIK_BSD3_TERMS                                                                         \
  L"Redistribution and use in source and binary forms, with or without modification, are\r\n"    \
  L"permitted provided that the following conditions are met:\r\n"                               \
  L"- Redistributions of source code must retain the above copyright notice, this list of\r\n"   \
  L"  conditions and the following disclaimer.\r\n"                                              \
  L"- Redistributions in binary form must reproduce the above copyright notice, this list of\r\n" \
  L"  conditions and the following disclaimer in the documentation and/or other materials\r\n"   \
  L"  provided with the distribution.\r\n"                                                       \
  L"- Neither the name of the copyright holders nor the names of its contributors may be used\r\n" \
  L"  to endorse or promote products derived from this software without specific prior\r\n"     \
  L"  written permission.\r\n"                                                                   \
  L"THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS AND CONTRIBUTORS \"AS IS\" AND ANY\r\n"    \
  L"EXPRESS OR IMPLIED WARRANTIES, INCLUDING, BUT NOT LIMITED TO, THE IMPLIED WARRANTIES OF\r\n"  \
  L"MERCHANTABILITY AND FITNESS FOR A PARTICULAR PURPOSE ARE DISCLAIMED. IN NO EVENT SHALL THE\r\n" \
  L"COPYRIGHT OWNER OR CONTRIBUTORS BE LIABLE FOR ANY DIRECT, INDIRECT, INCIDENTAL, SPECIAL,\r\n"  \
  L"EXEMPLARY, OR CONSEQUENTIAL DAMAGES (INCLUDING, BUT NOT LIMITED TO, PROCUREMENT OF\r\n"       \
  L"SUBSTITUTE GOODS OR SERVICES; LOSS OF USE, DATA, OR PROFITS; OR BUSINESS INTERRUPTION)\r\n"   \
  L"HOWEVER CAUSED AND ON ANY THEORY OF LIABILITY, WHETHER IN CONTRACT, STRICT LIABILITY, OR\r\n" \
  L"TORT (INCLUDING NEGLIGENCE OR OTHERWISE) ARISING IN ANY WAY OUT OF THE USE OF THIS\r\n"       \
  L"SOFTWARE, EVEN IF ADVISED OF THE POSSIBILITY OF SUCH DAMAGE.\r\n"
