// SPDX-License-Identifier: Apache-2.0
using System;
using System.IO;

namespace QVEHelper
{
    /// <summary>
    /// A failure of the library: <see cref="Code"/> is its number (below 0, or a
    /// decryption's result), <see cref="Name"/> its name, <see cref="Exception.Message"/>
    /// the library's words. A file cause comes as <see cref="FileNotFoundException"/>,
    /// <see cref="UnauthorizedAccessException"/> or <see cref="IOException"/>, with this
    /// exception as its inner exception.
    /// </summary>
    public class QveException : Exception
    {
        /// <summary>A failure with the library's code and words.</summary>
        public QveException(int code, string name, string message, string? path = null, string? reason = null)
            : base(message.Length > 0 ? message : name)
        {
            Code = code;
            Name = name;
            Path = path;
            Reason = reason;
        }

        /// <summary>The library's code.</summary>
        public int Code { get; }

        /// <summary>The code's name ("NotFound", "BadSignature", ...).</summary>
        public string Name { get; }

        /// <summary>The path the failure concerns, if any.</summary>
        public string? Path { get; }

        /// <summary>The system's words for it, if any ("Permission denied").</summary>
        public string? Reason { get; }
    }

    /// <summary>A decryption or check that did not succeed, and why.</summary>
    public class DecryptionException : QveException
    {
        /// <summary>A decryption's result with the library's cause.</summary>
        public DecryptionException(DecryptResult result, string message, string? path = null, string? reason = null)
            : base((int)result, result.ToString(), message, path, reason)
        {
            Result = result;
        }

        /// <summary>What the decryption gave.</summary>
        public DecryptResult Result { get; }
    }

    internal static class Errors
    {
        internal const int Cancelled = -20;
        private const int NotFound = -5;

        private static readonly int[] FileCodes = { -4, NotFound, -6, -7, -8, -21, -22, -23 };

        internal static string Name(int of, int code) => Native.Text(Native.qve_result_name(of, code));

        // The exception for the code the calling thread's last call gave.
        internal static Exception Last(int code, bool decryption = false)
        {
            string message = Native.Text(Native.qve_last_message());
            string path = Native.PathText(Native.qve_last_problem_path());
            string reason = Native.Text(Native.qve_last_problem_reason());
            return For(code, message, path.Length > 0 ? path : null, reason.Length > 0 ? reason : null, decryption);
        }

        internal static Exception For(int code, string message, string? path, string? reason, bool decryption)
        {
            QveException error = decryption && code >= 0
                ? new DecryptionException((DecryptResult)code, message, path, reason)
                : new QveException(code, Name(1, code), message, path, reason);
            bool fileCause = Array.IndexOf(FileCodes, code) >= 0 || (decryption && code == (int)DecryptResult.InputOpenFailed);
            if (!fileCause)
            {
                return error;
            }
            string said = error.Message;
            switch (reason?.ToLowerInvariant())
            {
                case "no such file or directory":
                case "the system cannot find the file specified.":
                case "the system cannot find the path specified.":
                    return new FileNotFoundException(said, path, error);
                case "permission denied":
                case "operation not permitted":
                case "access is denied.":
                    return new UnauthorizedAccessException(said, error);
            }
            return code == NotFound ? new FileNotFoundException(said, path, error) : new IOException(said, error);
        }
    }
}
