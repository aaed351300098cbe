// SPDX-License-Identifier: Apache-2.0
namespace QVEHelper
{
    /// <summary>What a decryption or check of a container gives.</summary>
    public enum DecryptResult
    {
        /// <summary>Decrypted, and the seal matches the plaintext.</summary>
        Success = 0,
        /// <summary>The plaintext ends in no seal trailer.</summary>
        NoSeal = 1,
        /// <summary>The input does not open.</summary>
        InputOpenFailed = 2,
        /// <summary>The output cannot be opened.</summary>
        OutputOpenFailed = 4,
        /// <summary>The output takes no more.</summary>
        OutputWriteFailed = 5,
        /// <summary>The container's header cannot be read.</summary>
        HeaderInvalid = 6,
        /// <summary>No record gives the session key to the built-in key.</summary>
        SessionKeyUnavailable = 7,
        /// <summary>The output's size cannot be set.</summary>
        OutputSizeFailed = 8,
        /// <summary>The output cannot be cut to the plaintext.</summary>
        OutputTruncateFailed = 9,
        /// <summary>The output cannot be read back.</summary>
        OutputReopenFailed = 10,
        /// <summary>The seal check cannot start.</summary>
        VerifyInitFailed = 11,
        /// <summary>The seal check fails on the way.</summary>
        VerifyUpdateFailed = 12,
        /// <summary>The seal's signature does not match the plaintext.</summary>
        BadSignature = 13,
    }

    /// <summary>The step a decryption is at.</summary>
    public enum DecryptStep
    {
        /// <summary>The container read and decrypted.</summary>
        Decrypting = 1,
        /// <summary>The plaintext read back for the seal check.</summary>
        CheckingSeal = 2,
    }

    /// <summary>How far a decryption or check has come.</summary>
    /// <param name="Done">Bytes done in this step.</param>
    /// <param name="Total">Bytes of the step; 0 when unknown.</param>
    /// <param name="Step">The step.</param>
    public readonly record struct DecryptProgress(ulong Done, ulong Total, DecryptStep Step);

    /// <summary>A verification's status, what <c>qvehelper verify</c> exits with.</summary>
    public enum VerificationStatus
    {
        /// <summary>ReportOk.</summary>
        Ok = 0,
        /// <summary>ReportUnsigned: nothing signed.</summary>
        Unsigned = 1,
        /// <summary>ReportSomeInvalid.</summary>
        SomeInvalid = 2,
        /// <summary>ReportAllInvalid.</summary>
        AllInvalid = 3,
        /// <summary>The chain no longer holds the recorded block.</summary>
        CheckpointLost = 4,
        /// <summary>The strict policy fails.</summary>
        StrictPolicyFailed = 5,
        /// <summary>Evidence was not read or was passed over.</summary>
        Incomplete = 6,
    }

    /// <summary>The report's result, as <c>VerifyReport</c> gives it.</summary>
    public enum ReportResult
    {
        /// <summary>Every file is good.</summary>
        ReportOk = 0,
        /// <summary>Nothing is signed.</summary>
        ReportUnsigned = 1,
        /// <summary>Some files are bad.</summary>
        ReportSomeInvalid = 2,
        /// <summary>Every file is bad.</summary>
        ReportAllInvalid = 3,
    }

    /// <summary>A file's verdict.</summary>
    public enum FileVerdict
    {
        /// <summary>Every block verified.</summary>
        FileOk = 0,
        /// <summary>No signature, or the file cannot be opened.</summary>
        FileUnsigned = 1,
        /// <summary>A block does not link to the one before it.</summary>
        FileChainBreak = 2,
        /// <summary>A signature does not match.</summary>
        FileInvalid = 3,
    }

    /// <summary>A block's verdict.</summary>
    public enum BlockVerdict
    {
        /// <summary>Signed and linked.</summary>
        BlockOk = 0,
        /// <summary>Lines no signature covers.</summary>
        BlockUnsigned = 1,
        /// <summary>A signature line without a signature.</summary>
        BlockNoSignature = 2,
        /// <summary>The signature does not match.</summary>
        BlockInvalid = 3,
        /// <summary>The link is not the chain value before it.</summary>
        BlockChainBreak = 4,
        /// <summary>A signature line where none was expected.</summary>
        BlockUnexpected = 5,
    }

    /// <summary>Where a block stands in its file's chain (QVE_LINK_*), as inspect shows it.</summary>
    public enum BlockChain
    {
        /// <summary>The unsigned tail: no signature line.</summary>
        UnsignedTail = 0,
        /// <summary>The file's first signature line; its link points before the file.</summary>
        First = 1,
        /// <summary>Its link is the chain value before it.</summary>
        Matches = 2,
        /// <summary>Its link is not the chain value before it.</summary>
        Differs = 3,
        /// <summary>Its signature line does not parse, so it carries no link.</summary>
        Unparsed = 4,
    }

    /// <summary>The order a verification takes the files in.</summary>
    public enum VerificationOrder
    {
        /// <summary>The order the blocks link in.</summary>
        Links = 0,
        /// <summary>The order of the names, as <c>VerifyReport</c> takes them.</summary>
        Name = 1,
        /// <summary>By links, with runs the links do not join following by name.</summary>
        LinksWithSeams = 2,
    }

    /// <summary>What became of a checkpoint record.</summary>
    public enum CheckpointState
    {
        /// <summary>No record was given.</summary>
        None = 0,
        /// <summary>A first record was made.</summary>
        New = 1,
        /// <summary>The record grew.</summary>
        Extended = 2,
        /// <summary>The chain no longer holds the recorded block.</summary>
        Lost = 3,
    }

    /// <summary>The kind of a verification event.</summary>
    public enum VerificationEventKind
    {
        /// <summary>A file begins (again, when its reading is above 1).</summary>
        FileStart = 1,
        /// <summary>A block of the file.</summary>
        Block = 2,
        /// <summary>What a verdict cannot say.</summary>
        Warning = 3,
        /// <summary>A file is done.</summary>
        FileEnd = 4,
        /// <summary>A rotation renamed files: all before no longer holds.</summary>
        Restart = 5,
        /// <summary>The run is over.</summary>
        Done = 6,
    }
}
