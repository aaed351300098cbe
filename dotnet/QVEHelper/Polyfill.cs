// SPDX-License-Identifier: Apache-2.0
#if !NET5_0_OR_GREATER
namespace System.Runtime.CompilerServices
{
    // Records' init accessors need this type, which netstandard2.0 lacks.
    internal static class IsExternalInit { }
}
#endif
